// -lh3-: LHA 2.x's experimental static Huffman method. Blocks of codes
// (256 literals, copy lengths 3 to 31, and one for 32 on with eight bits
// more), each with its own code and one for the top seven bits of offsets;
// an offset's low six bits follow as they are.
#include "unlha32/lzdecode.h"
#include "unlha32/methods.h"
#include "unlha32/prefixcode.h"

#include <memory>

namespace unlha {
namespace {

constexpr unsigned kCodes = 286;
constexpr unsigned kLongCopy = kCodes - 1; // eight more bits of length follow
constexpr unsigned kOffsetCodes = 8192 >> 6;

struct Codes {
    PrefixCode<kCodes, 10> codes;
    PrefixCode<kOffsetCodes, 10> offsets;
};

// Three words of length 1 cannot be, so they announce a code of one symbol.
bool announcesOne(const uint8_t *lengths)
{
    return lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1;
}

// Each length: a flag bit, then four bits of length less one.
bool readCodes(BitReader &in, PrefixCode<kCodes, 10> &codes)
{
    uint8_t lengths[kCodes] = {};
    for (unsigned s = 0; s < kCodes; ++s) {
        if (in.read(1))
            lengths[s] = static_cast<uint8_t>(in.read(4) + 1);
        if (s == 2 && announcesOne(lengths)) {
            const unsigned only = in.read(9);
            codes.lone(only);
            return only < kCodes;
        }
    }
    return codes.assign(lengths, kCodes, Unused::Allowed);
}

// The offset code used when a block brings none of its own.
uint8_t fixedOffsetLength(unsigned s)
{
    return s < 1 ? 2 : s < 3 ? 4 : s < 6 ? 5 : s < 13 ? 6 : s < 31 ? 7 : s < 78 ? 8 : 9;
}

bool readOffsets(BitReader &in, PrefixCode<kOffsetCodes, 10> &offsets)
{
    uint8_t lengths[kOffsetCodes] = {};
    if (!in.read(1)) {
        for (unsigned s = 0; s < kOffsetCodes; ++s)
            lengths[s] = fixedOffsetLength(s);
        return offsets.assign(lengths, kOffsetCodes, Unused::Allowed);
    }
    for (unsigned s = 0; s < kOffsetCodes; ++s) {
        lengths[s] = static_cast<uint8_t>(in.read(4));
        if (s == 2 && announcesOne(lengths)) {
            offsets.lone(in.read(7));
            return true;
        }
    }
    return offsets.assign(lengths, kOffsetCodes, Unused::Allowed);
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
            if (!readCodes(in, tables->codes) || !readOffsets(in, tables->offsets) || in.overrun())
                return false;
        }
        --blockLeft;
        const int c = codes.read(in);
        if (c < 0 || in.overrun())
            return false;
        if (c < 256) {
            out.put(static_cast<uint8_t>(c));
            continue;
        }
        unsigned length = static_cast<unsigned>(c) - 256 + 3;
        if (static_cast<unsigned>(c) == kLongCopy)
            length += in.read(8);
        const int high = offsets.read(in);
        if (high < 0)
            return false;
        const unsigned distance = (static_cast<unsigned>(high) << 6 | in.read(6)) + 1;
        if (in.overrun())
            return false;
        out.copy(distance, length);
    }
    return true;
}

} // namespace

DecodeStatus decodeLh3(Decoding &d, const Entry &e, const Method &, const Sink &sink)
{
    return decodeLz(d, e, sink, run);
}

} // namespace unlha
