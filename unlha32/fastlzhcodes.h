#pragma once
// The pieces of the static-Huffman decoder (fastlzh.h) that are not its
// hot loop: the bit buffer, the code tables and the reading of a block's
// three codes into them. Internal to the decoder.
#include "unlha32/fastlzh.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace unlha {
namespace fastlzh {

constexpr size_t kInputSize = 64 * 1024;
constexpr size_t kInputSlack = 16;
constexpr unsigned kLiteralCodes = 510; // 256 bytes, lengths 3 to 256
constexpr unsigned kPreCodes = 19;
constexpr unsigned kMaxPositions = 21; // -lhx-: 20 dictionary bits and distance 1
constexpr unsigned kMaxMatch = 256;
constexpr unsigned kMaxWord = 16;

inline uint64_t loadBigEndian64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// Bits most significant first. Past the end of the data the bits read as
// zeros; taking any of them marks the stream as cut short.
class Bits {
public:
    Bits(const FastLzh::Read &read, std::vector<uint8_t> &buf) : read_(read), buf_(buf)
    {
        buf_.resize(kInputSize + kInputSlack);
    }

    // At least 56 bits in the buffer afterwards.
    inline void refill()
    {
        if (p_ + 8 <= end_) {
            bits_ |= loadBigEndian64(buf_.data() + p_) >> count_;
            p_ += (63 - count_) >> 3;
            count_ |= 56;
        } else {
            refillSlow();
        }
    }
    // 1 to 32 bits; refill first.
    inline uint32_t peek(unsigned n) const { return static_cast<uint32_t>(bits_ >> (64 - n)); }
    inline void skip(unsigned n)
    {
        bits_ <<= n;
        count_ -= n;
    }
    inline uint32_t get(unsigned n)
    {
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // Bits beyond the data were taken.
    inline bool overrun() const { return count_ < pad_; }

    void refillSlow()
    {
        if (!eof_) {
            // Keep the unread tail, read more behind it.
            const size_t rest = end_ - p_;
            std::memmove(buf_.data(), buf_.data() + p_, rest);
            p_ = 0;
            end_ = rest;
            while (end_ + 8 <= kInputSize) {
                const size_t n = read_(buf_.data() + end_, kInputSize - end_);
                if (n == 0) {
                    eof_ = true;
                    break;
                }
                end_ += n;
                if (end_ >= 8)
                    break;
            }
            std::memset(buf_.data() + end_, 0, kInputSlack);
            if (p_ + 8 <= end_) {
                refill();
                return;
            }
            if (!eof_)
                return refillSlow();
            // The bits below the count may hold part of a byte loaded
            // earlier; byte by byte needs them clear.
            bits_ &= count_ == 0 ? 0 : ~(~uint64_t{0} >> count_);
        }
        while (count_ <= 56) {
            uint64_t b = 0;
            if (p_ < end_)
                b = buf_[p_++];
            else
                pad_ += 8;
            bits_ |= b << (56 - count_);
            count_ += 8;
        }
        // Once cut short it stays so; keep the counts from running away.
        if (pad_ > 64)
            pad_ = 64;
    }

    // The hot loop works on copies of these in registers and puts them back.
    const FastLzh::Read &read_;
    std::vector<uint8_t> &buf_;
    size_t p_ = 0;
    size_t end_ = 0;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    unsigned pad_ = 0; // zeros from beyond the data at the bottom of the count
    bool eof_ = false;
};

// Code tables. A canonical prefix code (LHA's order: shorter words first,
// then by symbol) is decoded by one look-up of the top `Primary` bits; a
// longer word's entry there links to a second table of the remaining bits
// up to 16. Only complete codes are accepted, so every entry belongs to a
// word and a look-up never fails.
//
// In canonical order the words up to `Primary` bits fill the first table
// from its start, each over a run of 2^(Primary - length) entries, and the
// longer ones fill the 16-bit word space behind them in the same way: both
// are laid out in one pass over the symbols sorted by length.
template <unsigned Capacity> struct Canonical {
    uint16_t sorted[Capacity]; // used symbols by length, then symbol
    uint8_t length[Capacity];  // of each in `sorted`
    unsigned used = 0;
    unsigned upTo[kMaxWord + 1]; // how many of `sorted` are at most this long

    // False for codes with more or fewer words than there are. Encoders
    // write complete codes (a lone symbol has a form of its own); lhasa
    // reads the words of an incomplete one in ways of its own, so such a
    // code is left to it. `count` holds how many symbols have each length;
    // the readers allow no length over 16.
    bool make(const uint8_t *lengths, unsigned n, const unsigned *count)
    {
        int room = 1;
        unsigned at[kMaxWord + 1];
        unsigned total = 0;
        for (unsigned len = 1; len <= kMaxWord; ++len) {
            room = room * 2 - static_cast<int>(count[len]);
            if (room < 0)
                return false;
            at[len] = total;
            total += count[len];
            upTo[len] = total;
        }
        if (room != 0)
            return false;
        upTo[0] = 0;
        used = total;
        for (unsigned s = 0; s < n; ++s) {
            const unsigned len = lengths[s];
            if (len != 0) {
                sorted[at[len]] = static_cast<uint16_t>(s);
                length[at[len]++] = static_cast<uint8_t>(len);
            }
        }
        return true;
    }
    bool make(const uint8_t *lengths, unsigned n)
    {
        unsigned count[kMaxWord + 1] = {};
        for (unsigned s = 0; s < n; ++s)
            ++count[lengths[s]];
        return make(lengths, n, count);
    }
    // A code of one symbol whose word takes no bits.
    void lone(unsigned symbol)
    {
        sorted[0] = static_cast<uint16_t>(symbol);
        length[0] = 0;
        used = 1;
        std::fill(upTo, upTo + kMaxWord + 1, 1u);
    }
};

// Pre-code and position entries, and what the slow path reads: symbol,
// length << 16; links are kLink | index.
constexpr uint32_t kLink = 0x80000000u;

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
    uint32_t pre[(1u << 8) + (kPreCodes << 8)];
    uint32_t literal[(1u << kLitBits) + (kLiteralCodes << (kMaxWord - kLitBits))];
    uint32_t position[(1u << kPosBits) + (kMaxPositions << (kMaxWord - kPosBits))];
    Canonical<kLiteralCodes> code;
    Canonical<kMaxPositions> positions;
    // The literal code as read, laid out once the position code is known.
    uint8_t literalLengths[kLiteralCodes];
    unsigned literalCount[kMaxWord + 1];
    unsigned literals;
    int loneLiteral; // the symbol of a code of one, or -1
};

// A block's codes, read into `t`: the pre-code, the literal/length code,
// the position code (`codes` of them, their count in `countBits` bits),
// then the literal table laid out. False on a code the format cannot hold.
bool readPre(Bits &in, Tables &t);
bool readLiteral(Bits &in, Tables &t);
bool readPosition(Bits &in, Tables &t, unsigned codes, unsigned countBits);
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
