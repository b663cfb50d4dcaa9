#include "unlha32/command.h"

#include <sys/stat.h>

#include <algorithm>
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

bool isFolder(const std::string &p)
{
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

// A whole operand in quotation marks loses them; an unbalanced quote is an error.
bool unquote(const std::string &s, std::string &out)
{
    const size_t q = std::count(s.begin(), s.end(), '"');
    if (q == 0) {
        out = s;
        return true;
    }
    if (q == 2 && s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        out = s.substr(1, s.size() - 2);
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

std::string stripSeparators(std::string d)
{
    while (d.size() > 1 && (d.back() == '/' || d.back() == '\\'))
        d.pop_back();
    if (d == "\\")
        d = "/";
    return d;
}

} // namespace

CommandError parseCommand(const std::string &text, Command &out)
{
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
    if (rest.front() == '"') {
        // Quoted archive: the destination is whatever follows.
        const size_t close = rest.find('"', 1);
        if (close == std::string::npos)
            return CommandError::Syntax;
        archive = rest.substr(1, close - 1);
        if (close + 1 < rest.size() && !isBlank(rest[close + 1]))
            return CommandError::Syntax;
        if (!unquote(trim(rest.substr(close + 1)), dest))
            return CommandError::Syntax;
    } else if (rest.back() == '"') {
        // Quoted destination after an unquoted archive.
        const size_t open = rest.rfind('"', rest.size() - 2);
        if (open == std::string::npos || open == 0 || !isBlank(rest[open - 1]))
            return CommandError::Syntax;
        dest = rest.substr(open + 1, rest.size() - open - 2);
        archive = trim(rest.substr(0, open));
        if (archive.find('"') != std::string::npos)
            return CommandError::Syntax;
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
            if (found == 0)
                return CommandError::NoArchive;
            if (found > 1)
                return CommandError::Syntax;
        }
    }
    if (archive.empty() || dest.empty() || looksLikeSwitch(archive) || looksLikeSwitch(dest))
        return CommandError::Syntax;
    dest = stripSeparators(dest);
    // Filled in even on failure, for the report.
    out.archive = archive;
    out.destination = dest;
    if (!isRegularFile(archive))
        return CommandError::NoArchive;
    if (!isFolder(dest))
        return CommandError::NoDestination;
    return CommandError::None;
}

} // namespace unlha
