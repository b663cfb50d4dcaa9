#include "unlha32/report.h"

#include "unlha32/messages.h"
#include "unlha32/unlha32.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace unlha {
namespace {

int severity(int result)
{
    switch (result) {
    case UNLHA_ERR_CANCELLED: return 7;
    case UNLHA_ERR_COMMAND: return 6;
    case UNLHA_ERR_WRITE: return 5;
    case UNLHA_ERR_NOT_ARCHIVE: return 4;
    case UNLHA_ERR_DAMAGED: return 3;
    case UNLHA_ERR_METHOD: return 2;
    case UNLHA_ERR_SKIPPED: return 1;
    default: return 0;
    }
}

} // namespace

std::string format(const char *pattern, const std::string &a1, const std::string &a2)
{
    std::string s = pattern;
    for (const auto &[key, value] : {std::pair<const char *, const std::string *>{"%1", &a1}, {"%2", &a2}}) {
        const auto pos = s.find(key);
        if (pos != std::string::npos)
            s.replace(pos, 2, *value);
    }
    return s;
}

std::string systemErrorText(int err)
{
    switch (err) {
    case ENOSPC: return msg::kErrNoSpace;
    case EACCES:
    case EPERM: return msg::kErrAccess;
    case EROFS: return msg::kErrReadOnly;
    case ENAMETOOLONG: return msg::kErrNameTooLong;
    case EINVAL:
    case EILSEQ: return msg::kErrBadName;
    case EDQUOT: return msg::kErrQuota;
    case EIO: return msg::kErrIo;
    case ENOTCONN:
    case ESTALE:
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM: return msg::kErrNotReady;
    case ENOENT: return msg::kErrGone;
    case EFBIG: return msg::kErrTooBig;
    case ENOTDIR: return msg::kErrFileInWay;
    case EISDIR:
    case ENOTEMPTY: return msg::kErrFolderInWay;
    case EEXIST: return msg::kErrExists;
    case EMLINK: return msg::kErrTooManyLinks;
    case ELOOP: return msg::kErrLinkLoop;
    case EMFILE:
    case ENFILE: return msg::kErrTooManyFiles;
    case ENOMEM: return msg::kErrNoMemory;
    case EBUSY:
    case ETXTBSY: return msg::kErrBusy;
    case ENOSYS:
    case EOPNOTSUPP: return msg::kErrUnsupported;
    default: return msg::kErrOther;
    }
}

bool concernsDestination(int err)
{
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EROFS:
    case EIO:
    case ENOTCONN:
    case ESTALE:
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM:
    case EMFILE:
    case ENFILE:
    case ENOMEM:
        return true;
    default:
        return false;
    }
}

void Report::item(const char *prefix, const std::string &name)
{
    const std::size_t len = std::strlen(prefix) + name.size() + 1;
    if (omitted_ || len > keep_ - items_.size()) {
        omitted_ = true;
        return;
    }
    items_ += prefix;
    items_ += name;
    items_ += '\n';
}

void Report::skipped(const char *prefix, const std::string &name)
{
    item(prefix, name);
    ++skippedCount_;
    if (severity(UNLHA_ERR_SKIPPED) > severity(result_))
        result_ = UNLHA_ERR_SKIPPED;
}

bool Report::takes(int result)
{
    if (severity(result) < severity(result_))
        return false;
    if (severity(result) > severity(result_)) {
        result_ = result;
        causes_.clear();
        uncounted_ = 0;
    }
    return true;
}

void Report::fail(int result, const std::string &cause)
{
    if (!takes(result))
        return;
    for (const Cause &c : causes_)
        if (!c.pattern && c.text == cause)
            return;
    if (causes_.size() < kCausesShown) {
        Cause c;
        c.text = cause;
        causes_.push_back(std::move(c));
    }
}

void Report::failEntry(int result, const char *pattern, const std::string &entry, const std::string &detail)
{
    if (!takes(result))
        return;
    auto same = [&](const Cause &c) { return c.pattern == pattern && c.detail == detail; };
    auto it = std::find_if(causes_.begin(), causes_.end(), same);
    if (it == causes_.end()) {
        if (causes_.size() == kCausesShown) {
            ++uncounted_;
            return;
        }
        Cause c;
        c.pattern = pattern;
        c.detail = detail;
        causes_.push_back(std::move(c));
        it = causes_.end() - 1;
    }
    if (it->names.size() < kNamesPerCause)
        it->names.push_back(entry);
    else
        ++it->unnamed;
}

std::string Report::causeText(const Cause &c) const
{
    if (!c.pattern)
        return c.text;
    std::string names;
    for (const std::string &n : c.names)
        names += (names.empty() ? "" : msg::kNameSeparator) + n;
    if (c.unnamed > 0)
        names += format(msg::kMoreNames, std::to_string(c.unnamed));
    return format(c.pattern, names, c.detail);
}

void Report::failOver(int result, const std::string &cause)
{
    result_ = result;
    causes_.clear();
    uncounted_ = 0;
    fail(result, cause);
}

int Report::result() const
{
    return result_;
}

std::string Report::causeLine() const
{
    if (result_ == 0)
        return {};
    if (causes_.empty())
        return format(msg::kCauseSkipped, std::to_string(skippedCount_));
    std::string line;
    for (const Cause &c : causes_)
        line += (line.empty() ? "" : msg::kCauseSeparator) + causeText(c);
    if (uncounted_ > 0)
        line += msg::kCauseSeparator + format(msg::kMoreEntries, std::to_string(uncounted_));
    return line;
}

std::string Report::text() const
{
    std::string s = items_;
    if (result_ != 0) {
        s += causeLine();
        s += '\n';
    }
    return s;
}

namespace {

// Bytes of `s` that fit in `room`, not leaving half a UTF-8 character.
size_t fitting(const std::string &s, size_t room)
{
    size_t n = s.size() < room ? s.size() : room;
    while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

} // namespace

void Report::write(char *output, uint32_t size) const
{
    if (!output || size == 0)
        return;
    std::string s = text();
    const size_t room = size - 1;
    if (s.size() > room || omitted_) {
        // Keep the cause whole: the item lines that fit, a mark that some
        // were left out, then the cause.
        const std::string tail = std::string(msg::kItemsOmitted) + "\n" + causeLine() + (result_ != 0 ? "\n" : "");
        size_t head = 0;
        while (head < items_.size()) {
            const size_t end = items_.find('\n', head) + 1;
            if (end + tail.size() > room)
                break;
            head = end;
        }
        if (tail.size() <= room)
            s = items_.substr(0, head) + tail;
        else if (result_ != 0)
            s = causeLine();
    }
    const size_t n = fitting(s, room);
    std::memcpy(output, s.data(), n);
    output[n] = '\0';
}

} // namespace unlha
