// LHARK's -lh7-: blocks laid out as in -lh5- (a code for code lengths, the
// code of literals and copies, the offset code), over a 64 KiB history,
// with 289 codes instead of 510 and offsets and long copy lengths coded
// its own way: a code's value gives the top bits and the number of low
// bits that follow.
#include "unlha32/codelengths.h"
#include "unlha32/lzdecode.h"
#include "unlha32/methods.h"

#include <memory>

namespace unlha {
namespace {

constexpr unsigned kCodes = 289;
constexpr unsigned kOffsetCodes = 63; // what a count of six bits allows
constexpr unsigned kOffsetCountBits = 6;

struct Codes {
    PreCode lengthCode;
    PrefixCode<kCodes, 10> codes;
    PrefixCode<kOffsetCodes, 10> offsets;
    CodeLengths lengths;
};

// A block's three codes. As LHA's decoders do, these take incomplete codes
// and lone symbols past a code as they come: a symbol that cannot be turns
// the stream down where it is read.
bool readCodes(BitReader &in, Codes &c)
{
    CodeLengths &l = c.lengths;
    if (!readSmallLengths(in, kPreCountBits, kPreCodes, true, l))
        return false;
    if (l.lone >= 0)
        c.lengthCode.lone(static_cast<unsigned>(l.lone));
    else if (!c.lengthCode.assign(l.length, l.symbols, l.count, Unused::Allowed))
        return false;
    if (!readLiteralLengths(in, c.lengthCode, kCodes, l))
        return false;
    if (l.lone >= static_cast<int>(kCodes))
        return false;
    if (l.lone >= 0)
        c.codes.lone(static_cast<unsigned>(l.lone));
    else if (!c.codes.assign(l.length, l.symbols, l.count, Unused::Allowed))
        return false;
    if (!readSmallLengths(in, kOffsetCountBits, kOffsetCodes, false, l))
        return false;
    if (l.lone >= 0) {
        c.offsets.lone(static_cast<unsigned>(l.lone));
        return true;
    }
    return c.offsets.assign(l.length, l.symbols, l.count, Unused::Allowed);
}

// Less three: 0 to 7 by the first eight codes; then four codes for each
// count of low bits from 1 to 6, whose last two bits follow a leading 1
// above the low bits; the last code alone is 514.
unsigned copyLength(BitReader &in, unsigned c)
{
    if (c < 264)
        return c - 256 + 3;
    if (c == kCodes - 1)
        return 514;
    const unsigned low = (c - 260) / 4;
    return ((4 + c % 4) << low) + in.read(low) + 3;
}

// 0 to 3 as they are; then two codes for each count of low bits from 1
// on, whose last bit follows a leading 1 above the low bits.
uint64_t offset(BitReader &in, unsigned c)
{
    if (c < 4)
        return c;
    const unsigned low = (c - 2) / 2;
    return (static_cast<uint64_t>(2 + c % 2) << low) + in.read(low);
}

bool run(BitReader &in, History &out)
{
    const auto tables = std::make_unique<Codes>();
    const auto &codes = tables->codes;
    const auto &offsets = tables->offsets;
    unsigned blockLeft = 0;
    while (!out.done()) {
        if (blockLeft == 0) {
            blockLeft = blockCount(in);
            if (!readCodes(in, *tables) || in.overrun())
                return false;
        }
        --blockLeft;
        const int c = codes.read(in);
        if (c < 0 || c >= static_cast<int>(kCodes) || in.overrun())
            return false;
        if (c < 256) {
            out.put(static_cast<uint8_t>(c));
            continue;
        }
        const unsigned length = copyLength(in, static_cast<unsigned>(c));
        const int o = offsets.read(in);
        if (o < 0)
            return false;
        const uint64_t distance = offset(in, static_cast<unsigned>(o)) + 1;
        if (in.overrun() || distance > History::kSize)
            return false;
        out.copy(static_cast<unsigned>(distance), length);
    }
    return true;
}

} // namespace

DecodeStatus decodeLhark(Decoding &d, const Entry &e, const Method &, const Sink &sink)
{
    return decodeLz(d, e, sink, run);
}

} // namespace unlha
