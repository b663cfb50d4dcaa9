#include "unlha32/command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <vector>

namespace unlha {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isRegularFile(const std::string &p)
{
    struct stat st;
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// What keeps `p` from being the archive, 0 when nothing does.
int archiveProblem(const std::string &p)
{
    struct stat st;
    if (::stat(p.c_str(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    return S_ISREG(st.st_mode) ? 0 : EINVAL;
}

int folderProblem(const std::string &p)
{
    struct stat st;
    if (::stat(p.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

std::string trim(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// The quoted operand that starts at `open` (a quotation mark), with each
// doubled mark read as one; `end` is just past its closing mark. False when
// it does not close.
bool readQuoted(const std::string &s, size_t open, std::string &out, size_t &end)
{
    out.clear();
    for (size_t i = open + 1; i < s.size(); ++i) {
        if (s[i] != '"') {
            out += s[i];
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == '"') {
            out += '"';
            ++i;
            continue;
        }
        end = i + 1;
        return true;
    }
    return false;
}

// A switch such as "-x" or "/x": the program sends none, and an unknown one
// must not be mistaken for a file name.
bool looksLikeSwitch(const std::string &s)
{
    if (s.size() < 2)
        return false;
    if (s[0] == '-')
        return true;
    if (s[0] != '/' || s.size() > 4)
        return false;
    for (size_t i = 1; i < s.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(s[i])))
            return false;
    struct stat st;
    return ::stat(s.c_str(), &st) != 0;
}

// The caller appends one separator to the folder; only that one goes, so
// that a folder whose own name ends in '\\' is the one that receives the files.
std::string dropAppendedSeparator(std::string d)
{
    if (d.size() > 1 && (d.back() == '/' || d.back() == '\\'))
        d.pop_back();
    if (d == "\\")
        d = "/";
    return d;
}

} // namespace

CommandError parseCommand(const std::string &text, Command &out)
{
    // A path cannot hold a NUL byte; the system would see less than was named.
    if (text.find('\0') != std::string::npos)
        return CommandError::Syntax;
    std::string s = trim(text);
    size_t i = 0;
    while (i < s.size() && !isBlank(s[i]))
        ++i;
    const std::string verb = s.substr(0, i);
    if (verb != "e" && verb != "E" && verb != "x" && verb != "X")
        return CommandError::Syntax;
    const std::string rest = trim(s.substr(i));
    if (rest.empty())
        return CommandError::Syntax;

    std::string archive, dest;
    bool archiveQuoted = false, destQuoted = false;
    if (rest.front() == '"') {
        // Quoted archive: the destination is whatever follows.
        size_t end = 0;
        if (!readQuoted(rest, 0, archive, end))
            return CommandError::Syntax;
        archiveQuoted = true;
        if (end < rest.size() && !isBlank(rest[end]))
            return CommandError::Syntax;
        const std::string tail = trim(rest.substr(end));
        if (!tail.empty() && tail.front() == '"') {
            size_t tailEnd = 0;
            if (!readQuoted(tail, 0, dest, tailEnd) || tailEnd != tail.size())
                return CommandError::Syntax;
            destQuoted = true;
        } else {
            if (tail.find('"') != std::string::npos)
                return CommandError::Syntax;
            dest = tail;
        }
    } else if (rest.back() == '"') {
        // Quoted destination after an unquoted archive: the first blank and
        // quotation mark from which one quoted operand runs to the end.
        bool found = false;
        for (size_t k = 1; k < rest.size() && !found; ++k) {
            size_t end = 0;
            if (rest[k] == '"' && isBlank(rest[k - 1]) && readQuoted(rest, k, dest, end) && end == rest.size()) {
                archive = trim(rest.substr(0, k));
                found = true;
            }
        }
        if (!found || archive.find('"') != std::string::npos)
            return CommandError::Syntax;
        destQuoted = true;
    } else {
        if (rest.find('"') != std::string::npos)
            return CommandError::Syntax;
        // Every blank is a candidate split; exactly one may name a file.
        std::vector<size_t> splits;
        for (size_t k = 0; k < rest.size(); ++k)
            if (isBlank(rest[k]) && (k == 0 || !isBlank(rest[k - 1])))
                splits.push_back(k);
        if (splits.empty())
            return CommandError::Syntax;
        if (looksLikeSwitch(rest.substr(0, splits.front())))
            return CommandError::Syntax;
        if (splits.size() == 1) {
            archive = rest.substr(0, splits[0]);
            dest = trim(rest.substr(splits[0]));
        } else {
            int found = 0;
            for (size_t k : splits) {
                const std::string a = rest.substr(0, k);
                if (isRegularFile(a)) {
                    ++found;
                    archive = a;
                    dest = trim(rest.substr(k));
                }
            }
            if (found == 0) {
                out.problem = ENOENT;
                return CommandError::NoArchive;
            }
            if (found > 1)
                return CommandError::Syntax;
        }
    }
    // Only what the caller did not quote can be a switch.
    if (archive.empty() || dest.empty() || (!archiveQuoted && looksLikeSwitch(archive))
        || (!destQuoted && looksLikeSwitch(dest)))
        return CommandError::Syntax;
    // Filled in even on failure, for the report.
    out.archive = archive;
    out.destination = dropAppendedSeparator(dest);
    if ((out.problem = archiveProblem(out.archive)) != 0)
        return CommandError::NoArchive;
    if ((out.problem = folderProblem(out.destination)) != 0)
        return CommandError::NoDestination;
    return CommandError::None;
}

} // namespace unlha
