#pragma once
// The pieces of the static-Huffman decoder (fastlzh.h) that are not its
// hot loop: its code tables and the reading of a block's three codes into
// them. Internal to the decoder.
//
// The bit reader (bitreader.h), the code-length reader (codelengths.h) and
// the table builder (prefixcode.h) are the ones the other decoders use; the
// pre-code is a PreCode like LHARK's. The literal/length and position
// tables keep a layout of their own, built by the same layOut: their
// entries hold two literals, or a whole copy with its position and extra
// bits, or a distance ready to add, which the hot loop reads without a
// further step. This decoder is also stricter than the format: it refuses
// incomplete codes and lone symbols past a code, which lhasa, taking over,
// reads its own way.
#include "unlha32/bitreader.h"
#include "unlha32/codelengths.h"
#include "unlha32/fastlzh.h"
#include "unlha32/prefixcode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace unlha {
namespace fastlzh {

constexpr unsigned kLiteralCodes = 510; // 256 bytes, lengths 3 to 256
constexpr unsigned kMaxPositions = 21; // -lhx-: 20 dictionary bits and distance 1
constexpr unsigned kMaxMatch = 256;

// The literal/length table. Its entries:
//   bits 0-5    bits the entry takes
//   literals:   bits 6-7 how many bytes (1 or 2), bits 8-15 the first,
//               bits 16-23 the second, bits 24-28 the first one's length
//   kMatch:     bits 16-24 the copy length; with kFull also bits 6-10 the
//               extra bits of the position, bits 11-15 its code
//   kLitLink:   bits 8-23 the index of the second table
// Where a short literal's word leaves room in the first look-up for the
// whole word of another literal, the entry holds both: literals often come
// in runs, and this halves the look-ups for them. Where a copy length's
// word leaves room for the position word behind it, the entry holds both
// (kFull), and the bits it takes include the position's extra bits: one
// look-up for the whole copy instead of two in a row.
constexpr uint32_t kMatch = 0x80000000u;
constexpr uint32_t kLitLink = 0x40000000u;
constexpr uint32_t kFull = 0x20000000u;
constexpr unsigned kLitBits = 12;

inline uint32_t literalEntry(unsigned symbol, unsigned len)
{
    if (symbol < 256)
        return len | 1u << 6 | symbol << 8 | len << 24;
    return kMatch | len | (symbol - 253) << 16;
}

// Position code c: c - 1 extra bits from code 2 on.
inline unsigned extraBits(unsigned code) { return code < 2 ? 0 : code - 1; }

// Code 0 is distance 1, code 1 distance 2, code c from 2 on the distances
// from 2^(c-1) + 1, the extra bits telling which.
inline unsigned baseDistance(unsigned code) { return ((2u << code) >> 2) + 1; }

inline uint32_t fullEntry(unsigned symbol, unsigned len, unsigned code, unsigned codeLen)
{
    const unsigned extra = extraBits(code);
    return kMatch | kFull | (len + codeLen + extra) | extra << 6 | code << 11 | (symbol - 253) << 16;
}

// Position entries: bits 0-5 the bits taken by the word and the extra bits
// behind it, bits 6-10 how many extra bits, bits 12-31 the distance they
// are added to; kPosLink | index << 12 links to a second table.
constexpr uint32_t kPosLink = 0x800u;
constexpr unsigned kPosBits = 10;

inline uint32_t positionEntry(unsigned symbol, unsigned len)
{
    const unsigned extra = extraBits(symbol);
    return (len + extra) | extra << 6 | baseDistance(symbol) << 12;
}

struct Tables {
    // The hot loop's tables first, each a whole number of cache lines
    // from the start.
    uint32_t literal[(1u << kLitBits) + (kLiteralCodes << (kMaxWord - kLitBits))];
    uint32_t position[(1u << kPosBits) + (kMaxPositions << (kMaxWord - kPosBits))];
    PreCode pre;
    Canonical<kLiteralCodes> code;
    Canonical<kMaxPositions> positions;
    // The literal code as read, laid out once the position code is known.
    CodeLengths literalCode;
};

// A block's codes, read into `t`: the pre-code, the literal/length code,
// the position code (`codes` of them, their count in `countBits` bits),
// then the literal table laid out. False on a code the format cannot hold.
bool readPre(BitReader &in, Tables &t);
bool readLiteral(BitReader &in, Tables &t);
bool readPosition(BitReader &in, Tables &t, unsigned codes, unsigned countBits);
bool buildLiteral(Tables &t);

inline uint32_t lookupLiteral(const uint32_t *lit, uint64_t bits)
{
    uint32_t x = lit[bits >> (64 - kLitBits)];
    if (x & kLitLink)
        x = lit[((x >> 8) & 0xFFFF) + (static_cast<uint32_t>(bits >> 48) & ((1u << (kMaxWord - kLitBits)) - 1))];
    return x;
}

inline uint32_t lookupPosition(const uint32_t *pos, uint64_t bits)
{
    uint32_t y = pos[bits >> (64 - kPosBits)];
    if (y & kPosLink)
        y = pos[(y >> 12) + (static_cast<uint32_t>(bits >> 48) & ((1u << (kMaxWord - kPosBits)) - 1))];
    return y;
}

// The distance of position entry `y` with the word at the top of `bits`.
inline size_t distance(uint32_t y, uint64_t bits)
{
    const unsigned taken = y & 63;
    const unsigned extra = (y >> 6) & 31;
    // Two shifts, so that taking no bits at all shifts by no more than 63.
    const uint64_t top = bits >> 1 >> (63 - taken);
    return (y >> 12) + static_cast<size_t>(top & ((uint64_t{1} << extra) - 1));
}

// The distance of kFull entry `x` with its words at the top of `bits`.
inline size_t fullDistance(uint32_t x, uint64_t bits)
{
    const unsigned taken = x & 63;
    const unsigned extra = (x >> 6) & 31;
    const uint64_t top = bits >> 1 >> (63 - taken);
    return baseDistance((x >> 11) & 31) + static_cast<size_t>(top & ((uint64_t{1} << extra) - 1));
}

} // namespace fastlzh
} // namespace unlha
