#include "unlha32/names.h"

#include "unlha32/lzhheader.h"

#include <iconv.h>
#include <cerrno>
#include <climits>
#include <cstdint>

namespace unlha {
namespace {

constexpr unsigned char kDirSeparator = 0xFF; // between the folders of extended header 0x02

bool isSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool isSjisTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
bool isHalfWidthKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }
bool isAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Bytes that stand for a character outside ASCII; 0xFF only ever separates.
bool isHigh(unsigned char c) { return c >= 0x80 && c != kDirSeparator; }

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

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

bool hasHigh(const std::string &s)
{
    for (const char ch : s)
        if (isHigh(static_cast<unsigned char>(ch)))
            return true;
    return false;
}

// Each part between 0xFF separators is UTF-8.
bool partsAreUtf8(const std::string &raw)
{
    size_t start = 0;
    for (;;) {
        size_t end = raw.find(static_cast<char>(kDirSeparator), start);
        if (end == std::string::npos)
            end = raw.size();
        if (!isValidUtf8(raw.substr(start, end - start)))
            return false;
        if (end == raw.size())
            return true;
        start = end + 1;
    }
}

// A private-use character in UTF-8: U+E000 to U+F8FF.
bool hasPrivateUse(const std::string &utf8)
{
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == 0xEE)
            return true;
        if (c == 0xEF && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) <= 0xA3)
            return true;
    }
    return false;
}

// EUC-JP by its structure: pairs of 0xA1-0xFE, half-width katakana after
// 0x8E, JIS X 0212 after 0x8F. (The converter passes 0x80-0xA0 through
// as control characters.)
bool isEucJpShaped(const std::string &raw)
{
    const auto in = [&raw](size_t i, unsigned lo, unsigned hi) {
        if (i >= raw.size())
            return false;
        const auto c = static_cast<unsigned char>(raw[i]);
        return c >= lo && c <= hi;
    };
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (!isHigh(c))
            continue;
        if (c == 0x8E && in(i + 1, 0xA1, 0xDF)) {
            i += 1;
        } else if (c == 0x8F && in(i + 1, 0xA1, 0xFE) && in(i + 2, 0xA1, 0xFE)) {
            i += 2;
        } else if (c >= 0xA1 && in(i + 1, 0xA1, 0xFE)) {
            i += 1;
        } else {
            return false;
        }
    }
    return true;
}

void appendLatin1(std::string &out, unsigned char c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
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
    : sjis_(iconv_open("UTF-8", "CP932")), euc_(iconv_open("UTF-8", "EUC-JP-MS"))
{
}

NameDecoder::~NameDecoder()
{
    for (void *cd : {sjis_, euc_})
        if (static_cast<iconv_t>(cd) != kNoConverter)
            iconv_close(static_cast<iconv_t>(cd));
}

bool NameDecoder::convertsCleanly(void *handle, const std::string &raw) const
{
    const auto cd = static_cast<iconv_t>(handle);
    if (cd == kNoConverter)
        return false;
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t end = raw.find(static_cast<char>(kDirSeparator), start);
        if (end == std::string::npos)
            end = raw.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char *in = const_cast<char *>(raw.data()) + start;
        size_t inLeft = end - start;
        out.resize(inLeft * 3 + 4);
        char *o = out.data();
        size_t outLeft = out.size();
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
            return false;
        out.resize(out.size() - outLeft);
        if (hasPrivateUse(out))
            return false;
        if (end == raw.size())
            return true;
        start = end + 1;
    }
}

NameDecoder::Enc NameDecoder::effective(const std::string &raw) const
{
    // ASCII reads the same in every encoding.
    if (!hasHigh(raw))
        return Enc::Utf8;
    const bool utf8 = partsAreUtf8(raw);
    switch (encoding_) {
    case NameEncoding::Auto:
    case NameEncoding::ShiftJis:
        // A UTF-8 name among Shift-JIS ones stays UTF-8, as it always has.
        break;
    case NameEncoding::EucJp:
        return !(isEucJpShaped(raw) && convertsCleanly(euc_, raw)) && utf8 ? Enc::Utf8 : Enc::Euc;
    case NameEncoding::Latin1:
        return utf8 ? Enc::Utf8 : Enc::Latin1;
    }
    return utf8 ? Enc::Utf8 : Enc::Sjis;
}

std::string NameDecoder::toUtf8(const std::string &raw, Enc enc) const
{
    std::string out;
    const auto cd = static_cast<iconv_t>(enc == Enc::Euc ? euc_ : sjis_);
    if (enc == Enc::Utf8) {
        out = raw;
    } else if (enc == Enc::Latin1) {
        out.reserve(raw.size() * 2);
        for (const char ch : raw)
            appendLatin1(out, static_cast<unsigned char>(ch));
    } else if (cd == kNoConverter) {
        // Without a converter keep ASCII and mark the rest.
        out = raw;
        for (auto &ch : out)
            if (static_cast<unsigned char>(ch) >= 0x80)
                ch = '_';
    } else {
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
            // A byte the encoding does not know: mark it and go on.
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

bool NameDecoder::split(const std::string &raw, Enc enc, std::vector<Piece> &out)
{
    out.push_back({{}, enc});
    bool separatorLast = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        separatorLast = false;
        // In Shift-JIS the second byte of a character may be 0x5C ('\'),
        // which is then part of the character and no separator.
        if (enc == Enc::Sjis && isSjisLead(c) && i + 1 < raw.size()
            && isSjisTrail(static_cast<unsigned char>(raw[i + 1]))) {
            out.back().bytes += raw[i];
            out.back().bytes += raw[++i];
        } else if (c == kDirSeparator || c == '\\' || c == '/') {
            out.push_back({{}, enc});
            separatorLast = true;
        } else {
            out.back().bytes += raw[i];
        }
    }
    return separatorLast;
}

DecodedPath NameDecoder::finish(const std::vector<Piece> &pieces, bool endsWithSeparator) const
{
    DecodedPath res;
    res.endsWithSeparator = endsWithSeparator;
    bool first = true;
    for (const auto &p : pieces) {
        if (p.bytes.empty() || p.bytes == "." || p.bytes == "..")
            continue;
        std::string name = toUtf8(p.bytes, p.enc);
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

DecodedPath NameDecoder::decodePath(const std::string &rawDir, const std::string &rawName) const
{
    std::string raw = rawDir;
    if (!raw.empty() && !rawName.empty())
        raw += static_cast<char>(kDirSeparator);
    raw += rawName;
    std::vector<Piece> pieces;
    const bool ends = split(raw, effective(raw), pieces);
    return finish(pieces, ends);
}

DecodedPath NameDecoder::decodePath(const Entry &e) const
{
    if (!e.hasUnicodeName && !e.hasUnicodeDir)
        return decodePath(e.rawDir, e.rawName);
    // The Unicode names are UTF-8 by now, folders ended by 0xFF as in 0x02.
    std::vector<Piece> pieces;
    const std::string &dir = e.hasUnicodeDir ? e.unicodeDir : e.rawDir;
    const std::string &name = e.hasUnicodeName ? e.unicodeName : e.rawName;
    bool ends = split(dir, e.hasUnicodeDir ? Enc::Utf8 : effective(dir), pieces);
    if (!name.empty())
        ends = split(name, e.hasUnicodeName ? Enc::Utf8 : effective(name), pieces);
    return finish(pieces, ends);
}

std::string NameDecoder::decodeText(const std::string &raw) const
{
    // Separators as in names; the parts between them converted one by one,
    // so that no '/' is taken for a character's byte.
    std::vector<Piece> pieces;
    split(raw, effective(raw), pieces);
    std::string out;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            out += '/';
        out += toUtf8(pieces[i].bytes, pieces[i].enc);
    }
    return out;
}

NameTraits NameDecoder::traits(const std::string &raw, bool folder) const
{
    NameTraits t;
    t.nonAscii = hasHigh(raw);
    if (!t.nonAscii)
        return t;
    t.utf8 = partsAreUtf8(raw);

    // Shift-JIS by its structure: single bytes, and pairs of a lead and a
    // trail byte. A pair "letter, lead 0xE0-0xFC, 0x5C" is far more likely
    // an accented letter before a folder separator (Latin-1 à to ü) than a
    // rare kanji; so is such a pair that ends a folder's name.
    bool structural = true;
    bool swallowed = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (!isHigh(c) || isHalfWidthKana(c))
            continue;
        if (!isSjisLead(c) || i + 1 == raw.size() || !isSjisTrail(static_cast<unsigned char>(raw[i + 1]))) {
            structural = false;
            continue;
        }
        if (c <= 0x9F)
            t.japanese = true;
        if (raw[i + 1] == '\\' && c >= 0xE0
            && ((i > 0 && isAsciiLetter(static_cast<unsigned char>(raw[i - 1]))) || (folder && i + 2 == raw.size())))
            swallowed = true;
        ++i;
    }
    t.shiftJis = structural && !swallowed && convertsCleanly(sjis_, raw);
    t.eucJp = isEucJpShaped(raw) && convertsCleanly(euc_, raw);

    t.wordy = true;
    for (size_t i = 0; i < raw.size() && t.wordy;) {
        if (!isHigh(static_cast<unsigned char>(raw[i]))) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < raw.size() && isHigh(static_cast<unsigned char>(raw[end])))
            ++end;
        const bool letterBefore = i > 0 && isAsciiLetter(static_cast<unsigned char>(raw[i - 1]));
        const bool letterAfter = end < raw.size() && isAsciiLetter(static_cast<unsigned char>(raw[end]));
        t.wordy = end - i <= 2 && (letterBefore || letterAfter);
        i = end;
    }
    return t;
}

} // namespace unlha
