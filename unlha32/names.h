#pragma once
// Turns the raw name bytes of an archive entry into a safe relative path of
// UTF-8 components, the same way whatever the process's locale.
#include <string>
#include <vector>

namespace unlha {

struct DecodedPath {
    std::vector<std::string> components; // safe: no "", ".", "..", no '/'
    bool tooLong = false;                // a component longer than a file name may be
    std::string display() const;         // components joined with '/'
};

class NameDecoder {
public:
    NameDecoder();
    ~NameDecoder();
    NameDecoder(const NameDecoder &) = delete;
    NameDecoder &operator=(const NameDecoder &) = delete;

    // `rawDir` separates with 0xFF (extended header 0x02); `rawName` may carry
    // a path of its own with '\' or '/'.
    DecodedPath decodePath(const std::string &rawDir, const std::string &rawName) const;
    // A link target: converted to UTF-8 with control characters replaced,
    // but its structure ("..", leading '/') kept for the caller to judge.
    std::string decodeText(const std::string &raw) const;

private:
    std::string toUtf8(const std::string &raw, bool utf8) const;
    void *cd_; // iconv_t from CP932
};

bool isValidUtf8(const std::string &s);

} // namespace unlha
