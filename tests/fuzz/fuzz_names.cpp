// Arbitrary name bytes through the name decoder, in every encoding an
// archive's names can be decided to be in. The first byte says how many of
// the following bytes are the directory field (0xFF separated); the rest is
// the name field. Every result must be safe to create below the
// destination, and a link target must keep its shape.
#include "tests/fuzz/fuzz_support.h"

#include "unlha32/names.h"

#include <climits>
#include <cstdint>
#include <string>

namespace {

using fuzz::check;

size_t count(const std::string &s, char c)
{
    size_t n = 0;
    for (char x : s)
        n += x == c;
    return n;
}

} // namespace

namespace {

void checkOne(const unlha::NameDecoder &names, const std::string &rawDir, const std::string &rawName)
{
    const unlha::DecodedPath path = names.decodePath(rawDir, rawName);
    bool longComponent = false;
    for (const auto &c : path.components) {
        check(!c.empty(), "empty component");
        check(c != "." && c != "..", "dot component", c);
        check(c.find('/') == std::string::npos, "separator inside a component", c);
        check(c.find('\0') == std::string::npos, "NUL inside a component", c);
        check(!fuzz::hasControl(c), "control character in a component", c);
        check(fuzz::utf8Valid(c), "component is not UTF-8", c);
        longComponent |= c.size() > NAME_MAX;
    }
    check(path.tooLong == longComponent, "tooLong disagrees with the components", path.display());

    // The same bytes as a link target: converted, cleaned, but with every
    // separator where it was, so that ".." and a leading '/' can be judged.
    // '/' always separates; '\' and 0xFF too, but for a '\' that is the
    // second byte of a Shift-JIS character.
    const std::string both = rawDir + rawName;
    const std::string text = names.decodeText(both);
    check(fuzz::utf8Valid(text), "text is not UTF-8", text);
    check(!fuzz::hasControl(text), "control character in text", text);
    const size_t separators = count(text, '/');
    check(separators >= count(both, '/') && separators <= count(both, '/') + count(both, '\\') + count(both, '\xFF'),
          "separators moved", text);
    const bool leading = !both.empty() && (both[0] == '/' || both[0] == '\\' || both[0] == '\xFF');
    check(!leading || (!text.empty() && text[0] == '/'), "leading separator lost", text);

    const unlha::NameTraits t = names.traits(both, false);
    check(t.nonAscii || (!t.utf8 && !t.shiftJis && !t.eucJp && !t.japanese), "evidence from an ASCII name", both);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static unlha::NameDecoder decoders[4];
    static const bool ready = [] {
        const unlha::NameEncoding all[] = {unlha::NameEncoding::Auto, unlha::NameEncoding::ShiftJis,
                                           unlha::NameEncoding::EucJp, unlha::NameEncoding::Latin1};
        for (int i = 0; i < 4; ++i)
            decoders[i].setEncoding(all[i]);
        return true;
    }();
    (void)ready;
    if (size == 0)
        return 0;
    const size_t dirLen = data[0] < size - 1 ? data[0] : size - 1;
    const std::string rawDir(reinterpret_cast<const char *>(data) + 1, dirLen);
    const std::string rawName(reinterpret_cast<const char *>(data) + 1 + dirLen, size - 1 - dirLen);
    for (const auto &names : decoders)
        checkOne(names, rawDir, rawName);
    return 0;
}
