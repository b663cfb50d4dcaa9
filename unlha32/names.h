#pragma once
// Turns the raw name bytes of an archive entry into a safe relative path of
// UTF-8 components, the same way whatever the process's locale, in the
// encoding chosen for the whole archive (survey.h decides it).
#include <cstdint>
#include <string>
#include <vector>

namespace unlha {

struct Entry;

// How an archive's names are written.
enum class NameEncoding : uint8_t {
    Auto,     // each name on its own: valid UTF-8 stays UTF-8, anything else is Shift-JIS
    ShiftJis, // Japanese MS-DOS and Windows (CP932)
    EucJp,    // Japanese Unix
    Latin1,   // ISO-8859-1: Amiga and European archivers
};

struct DecodedPath {
    std::vector<std::string> components; // safe: no "", ".", "..", no '/'
    bool tooLong = false;                // a component longer than a file name may be
    bool endsWithSeparator = false;      // the stored path ended with a separator: a folder
    std::string display() const;         // components joined with '/'
};

// What one raw name says about the encoding of its archive's names.
struct NameTraits {
    bool nonAscii = false;
    bool utf8 = false;     // valid UTF-8
    bool shiftJis = false; // valid Shift-JIS, without private-use characters or a swallowed separator
    bool japanese = false; // holds a Shift-JIS pair led by 0x81-0x9F (kana, common kanji, symbols),
                           // bytes that ISO-8859-1 leaves to control characters
    bool eucJp = false;    // valid EUC-JP, without private-use characters
    bool wordy = false;    // its high bytes stand alone or in twos beside ASCII letters, as
                           // accented letters do inside European words
};

class NameDecoder {
public:
    NameDecoder();
    ~NameDecoder();
    NameDecoder(const NameDecoder &) = delete;
    NameDecoder &operator=(const NameDecoder &) = delete;

    void setEncoding(NameEncoding encoding) { encoding_ = encoding; }
    NameEncoding encoding() const { return encoding_; }

    // `rawDir` separates with 0xFF (extended header 0x02); `rawName` may carry
    // a path of its own with '\' or '/'.
    DecodedPath decodePath(const std::string &rawDir, const std::string &rawName) const;
    // An entry's path, from the Unicode names of extended headers 0x44 and
    // 0x45 where it has them (their 0x01 and 0x02 twins are then only a
    // fallback, often of '_'), from its raw names otherwise.
    DecodedPath decodePath(const Entry &e) const;
    // A link target: converted to UTF-8 with control characters replaced,
    // '\' and 0xFF separators made '/' as in names, but its structure ("..",
    // a leading '/') kept for the caller to judge.
    std::string decodeText(const std::string &raw) const;

    // `folder`: the entry is a folder, whose stored name ends in a separator.
    NameTraits traits(const std::string &raw, bool folder) const;

private:
    enum class Enc : uint8_t { Utf8, Sjis, Euc, Latin1 };
    struct Piece {
        std::string bytes;
        Enc enc;
    };
    Enc effective(const std::string &raw) const;
    // Splits `raw` at its separators into `out`, the first piece appended to
    // what `out` ends with; true when `raw` ends with a separator.
    static bool split(const std::string &raw, Enc enc, std::vector<Piece> &out);
    DecodedPath finish(const std::vector<Piece> &pieces, bool endsWithSeparator) const;
    std::string toUtf8(const std::string &raw, Enc enc) const;
    // The whole of `raw` converts through `cd` without an unknown byte or a
    // private-use character.
    bool convertsCleanly(void *cd, const std::string &raw) const;

    NameEncoding encoding_ = NameEncoding::Auto;
    void *sjis_; // iconv_t from CP932
    void *euc_;  // iconv_t from EUC-JP-MS
};

bool isValidUtf8(const std::string &s);

} // namespace unlha
