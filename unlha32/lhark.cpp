// LHARK's -lh7-: blocks laid out as in -lh5- (a code for code lengths, the
// code of literals and copies, the offset code), over a 64 KiB history,
// with 289 codes instead of 510 and offsets and long copy lengths coded
// its own way: a code's value gives the top bits and the number of low
// bits that follow.
#include "unlha32/lzdecode.h"

namespace unlha {
namespace {

constexpr unsigned kLengthCodes = 19; // lengths 0 to 16 and three runs of zeros
constexpr unsigned kCodes = 289;
constexpr unsigned kOffsetCodes = 63; // what a count of six bits allows

// Three bits, and from 7 on one more for each 1 bit before a 0.
bool readLength(BitInput &in, uint8_t &length)
{
    unsigned n = in.get(3);
    if (n == 7) {
        while (in.get(1)) {
            if (++n > HuffmanCode::kMaxLength)
                return false;
        }
    }
    length = static_cast<uint8_t>(n);
    return true;
}

bool readLengthCode(BitInput &in, HuffmanCode &code)
{
    const unsigned n = in.get(5);
    if (n == 0) {
        code.only(in.get(5));
        return true;
    }
    if (n > kLengthCodes)
        return false;
    uint8_t lengths[kLengthCodes] = {};
    for (unsigned s = 0; s < n;) {
        if (!readLength(in, lengths[s++]))
            return false;
        // Two bits after the third length: how many lengths of 0 follow.
        if (s == 3)
            s += in.get(2);
    }
    return code.assign(lengths, kLengthCodes);
}

bool readCodes(BitInput &in, const HuffmanCode &lengthCode, HuffmanCode &codes)
{
    const unsigned n = in.get(9);
    if (n == 0) {
        const unsigned only = in.get(9);
        codes.only(only);
        return only < kCodes;
    }
    if (n > kCodes)
        return false;
    uint8_t lengths[kCodes] = {};
    for (unsigned s = 0; s < n;) {
        const int c = lengthCode.read(in);
        if (c < 0 || in.failed())
            return false;
        // 0 to 2 are runs of unused codes: one, 3 to 18, 20 to 531.
        if (c == 0)
            s += 1;
        else if (c == 1)
            s += in.get(4) + 3;
        else if (c == 2)
            s += in.get(9) + 20;
        else if (static_cast<unsigned>(c) - 2 > HuffmanCode::kMaxLength)
            return false;
        else
            lengths[s++] = static_cast<uint8_t>(c - 2);
    }
    return codes.assign(lengths, kCodes);
}

bool readOffsetCode(BitInput &in, HuffmanCode &offsets)
{
    const unsigned n = in.get(6);
    if (n == 0) {
        offsets.only(in.get(6));
        return true;
    }
    uint8_t lengths[kOffsetCodes] = {};
    for (unsigned s = 0; s < n; ++s) {
        if (!readLength(in, lengths[s]))
            return false;
    }
    return offsets.assign(lengths, kOffsetCodes);
}

// Less three: 0 to 7 by the first eight codes; then four codes for each
// count of low bits from 1 to 6, whose last two bits follow a leading 1
// above the low bits; the last code alone is 514.
unsigned copyLength(BitInput &in, unsigned c)
{
    if (c < 264)
        return c - 256 + 3;
    if (c == kCodes - 1)
        return 514;
    const unsigned low = (c - 260) / 4;
    return ((4 + c % 4) << low) + in.get(low) + 3;
}

// 0 to 3 as they are; then two codes for each count of low bits from 1
// on, whose last bit follows a leading 1 above the low bits.
uint64_t offset(BitInput &in, unsigned c)
{
    if (c < 4)
        return c;
    const unsigned low = (c - 2) / 2;
    return (static_cast<uint64_t>(2 + c % 2) << low) + in.get(low);
}

} // namespace

bool decodeLhark(BitInput &in, History &out)
{
    HuffmanCode lengthCode;
    HuffmanCode codes;
    HuffmanCode offsets;
    unsigned blockLeft = 0;
    while (!out.done()) {
        if (blockLeft == 0) {
            blockLeft = in.blockCount();
            if (!readLengthCode(in, lengthCode) || !readCodes(in, lengthCode, codes)
                || !readOffsetCode(in, offsets) || in.failed())
                return false;
        }
        --blockLeft;
        const int c = codes.read(in);
        if (c < 0 || c >= static_cast<int>(kCodes) || in.failed())
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
        if (in.failed() || distance > History::kSize)
            return false;
        out.copy(static_cast<unsigned>(distance), length);
    }
    return true;
}

} // namespace unlha
