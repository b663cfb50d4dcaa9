#include "unlha32/names.h"

#include <iconv.h>
#include <cerrno>
#include <climits>
#include <cstdint>

namespace unlha {
namespace {

bool isSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool isSjisTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// ASCII and C1 control characters become '_'; so does a '/' left inside a
// component (it could only come from a decoded name, never a separator).
void replaceControls(std::string &s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F || c == '/') {
            s[i] = '_';
        } else if (c == 0xC2 && i + 1 < s.size()) {
            const auto d = static_cast<unsigned char>(s[i + 1]);
            if (d >= 0x80 && d <= 0x9F) {
                s.replace(i, 2, "_");
            }
        }
    }
}

bool isDriveLetter(const std::string &c)
{
    return c.size() == 2 && c[1] == ':' && ((c[0] >= 'A' && c[0] <= 'Z') || (c[0] >= 'a' && c[0] <= 'z'));
}

} // namespace

bool isValidUtf8(const std::string &s)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

std::string DecodedPath::display() const
{
    std::string s;
    for (const auto &c : components) {
        if (!s.empty())
            s += '/';
        s += c;
    }
    return s;
}

NameDecoder::NameDecoder()
    : cd_(iconv_open("UTF-8", "CP932"))
{
}

NameDecoder::~NameDecoder()
{
    if (cd_ != reinterpret_cast<void *>(-1))
        iconv_close(static_cast<iconv_t>(cd_));
}

std::string NameDecoder::toUtf8(const std::string &raw, bool utf8) const
{
    std::string out;
    if (utf8 || cd_ == reinterpret_cast<void *>(-1)) {
        out = raw;
        if (!utf8) {
            // Without a converter keep ASCII and mark the rest.
            for (auto &ch : out)
                if (static_cast<unsigned char>(ch) >= 0x80)
                    ch = '_';
        }
    } else {
        auto cd = static_cast<iconv_t>(cd_);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char *in = const_cast<char *>(raw.data());
        size_t inLeft = raw.size();
        out.resize(raw.size() * 3 + 4);
        char *o = out.data();
        size_t outLeft = out.size();
        while (inLeft > 0) {
            if (iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1))
                break;
            if (errno == E2BIG)
                break; // cannot happen: three bytes out per byte in suffice
            // A byte CP932 does not know: mark it and go on.
            *o++ = '_';
            --outLeft;
            ++in;
            --inLeft;
        }
        out.resize(out.size() - outLeft);
    }
    replaceControls(out);
    return out;
}

DecodedPath NameDecoder::decodePath(const std::string &rawDir, const std::string &rawName) const
{
    std::string raw = rawDir;
    if (!raw.empty() && !rawName.empty())
        raw += '\xFF';
    raw += rawName;

    // Valid UTF-8 stays UTF-8 (Unix archivers); anything else is Shift-JIS.
    // 0xFF never occurs in either, so the check runs on the parts between.
    bool utf8 = true;
    {
        size_t start = 0;
        while (utf8 && start <= raw.size()) {
            size_t end = raw.find('\xFF', start);
            if (end == std::string::npos)
                end = raw.size();
            utf8 = isValidUtf8(raw.substr(start, end - start));
            start = end + 1;
        }
    }

    DecodedPath res;
    std::vector<std::string> rawParts(1);
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        // In Shift-JIS the second byte of a character may be 0x5C ('\'),
        // which is then part of the character and no separator.
        if (!utf8 && isSjisLead(c) && i + 1 < raw.size() && isSjisTrail(static_cast<unsigned char>(raw[i + 1]))) {
            rawParts.back() += raw[i];
            rawParts.back() += raw[++i];
        } else if (c == 0xFF || c == '\\' || c == '/') {
            rawParts.emplace_back();
        } else {
            rawParts.back() += raw[i];
        }
    }

    bool first = true;
    for (const auto &p : rawParts) {
        if (p.empty() || p == "." || p == "..")
            continue;
        std::string name = toUtf8(p, utf8);
        if (first && isDriveLetter(name)) {
            first = false;
            continue;
        }
        first = false;
        if (name.size() > NAME_MAX)
            res.tooLong = true;
        res.components.push_back(std::move(name));
    }
    return res;
}

std::string NameDecoder::decodeText(const std::string &raw) const
{
    // Keep the separators: '/' must survive replaceControls, so convert the
    // parts between them.
    const bool utf8 = isValidUtf8(raw);
    std::string out;
    std::string part;
    for (size_t i = 0; i <= raw.size(); ++i) {
        if (i == raw.size() || raw[i] == '/') {
            out += toUtf8(part, utf8);
            part.clear();
            if (i < raw.size())
                out += '/';
        } else {
            part += raw[i];
        }
    }
    return out;
}

} // namespace unlha
