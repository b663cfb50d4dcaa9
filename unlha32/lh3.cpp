// -lh3-: LHA 2.x's experimental static Huffman method. Blocks of codes
// (256 literals, copy lengths 3 to 31, and one for 32 on with eight bits
// more), each with its own code and one for the top seven bits of offsets;
// an offset's low six bits follow as they are.
#include "unlha32/lzdecode.h"

namespace unlha {
namespace {

constexpr unsigned kCodes = 286;
constexpr unsigned kLongCopy = kCodes - 1; // eight more bits of length follow
constexpr unsigned kOffsetCodes = 8192 >> 6;

// Three words of length 1 cannot be, so they announce a code of one symbol.
bool announcesOne(const uint8_t *lengths)
{
    return lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1;
}

// Each length: a flag bit, then four bits of length less one.
bool readCodes(BitInput &in, HuffmanCode &codes)
{
    uint8_t lengths[kCodes] = {};
    for (unsigned s = 0; s < kCodes; ++s) {
        if (in.get(1))
            lengths[s] = static_cast<uint8_t>(in.get(4) + 1);
        if (s == 2 && announcesOne(lengths)) {
            const unsigned only = in.get(9);
            codes.only(only);
            return only < kCodes;
        }
    }
    return codes.assign(lengths, kCodes);
}

// The offset code used when a block brings none of its own.
uint8_t fixedOffsetLength(unsigned s)
{
    return s < 1 ? 2 : s < 3 ? 4 : s < 6 ? 5 : s < 13 ? 6 : s < 31 ? 7 : s < 78 ? 8 : 9;
}

bool readOffsets(BitInput &in, HuffmanCode &offsets)
{
    uint8_t lengths[kOffsetCodes] = {};
    if (!in.get(1)) {
        for (unsigned s = 0; s < kOffsetCodes; ++s)
            lengths[s] = fixedOffsetLength(s);
        return offsets.assign(lengths, kOffsetCodes);
    }
    for (unsigned s = 0; s < kOffsetCodes; ++s) {
        lengths[s] = static_cast<uint8_t>(in.get(4));
        if (s == 2 && announcesOne(lengths)) {
            offsets.only(in.get(7));
            return true;
        }
    }
    return offsets.assign(lengths, kOffsetCodes);
}

} // namespace

bool decodeLh3(BitInput &in, History &out)
{
    HuffmanCode codes;
    HuffmanCode offsets;
    unsigned blockLeft = 0;
    while (!out.done()) {
        if (blockLeft == 0) {
            blockLeft = in.blockCount();
            if (!readCodes(in, codes) || !readOffsets(in, offsets) || in.failed())
                return false;
        }
        --blockLeft;
        const int c = codes.read(in);
        if (c < 0 || in.failed())
            return false;
        if (c < 256) {
            out.put(static_cast<uint8_t>(c));
            continue;
        }
        unsigned length = static_cast<unsigned>(c) - 256 + 3;
        if (static_cast<unsigned>(c) == kLongCopy)
            length += in.get(8);
        const int high = offsets.read(in);
        if (high < 0)
            return false;
        const unsigned distance = (static_cast<unsigned>(high) << 6 | in.get(6)) + 1;
        if (in.failed())
            return false;
        out.copy(distance, length);
    }
    return true;
}

} // namespace unlha
