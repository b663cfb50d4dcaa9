#include "unlha32/fastlzh.h"

#include "unlha32/lzdecode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

namespace unlha {
namespace {

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

// `n` (a power of two) copies of `v`.
inline void fillEntries(uint32_t *p, unsigned n, uint32_t v)
{
    if (n >= 4) {
        const uint32_t four[4] = {v, v, v, v};
        for (unsigned i = 0; i < n; i += 4)
            std::memcpy(p + i, four, sizeof four);
    } else {
        p[0] = v;
        if (n == 2)
            p[1] = v;
    }
}

// Lays out code `c` in table `e`: entry(symbol, length) gives each word's
// entry, link(index) the first table's entry for a prefix of longer words
// whose second table starts at `index`.
template <unsigned Primary, unsigned Capacity, typename Entry, typename Link>
void layOut(uint32_t *e, const Canonical<Capacity> &c, Entry entry, Link link)
{
    constexpr unsigned kSub = kMaxWord - Primary;
    unsigned at = 0;
    unsigned i = 0;
    for (; i < c.upTo[Primary]; ++i) {
        const unsigned run = 1u << (Primary - c.length[i]);
        fillEntries(e + at, run, entry(c.sorted[i], c.length[i]));
        at += run;
    }
    if (at == (1u << Primary))
        return;
    // Each prefix left holds longer words; its second table follows the
    // previous one's.
    const unsigned first = at;
    for (unsigned k = first; k < (1u << Primary); ++k)
        e[k] = link((1u << Primary) + ((k - first) << kSub));
    uint32_t *sub = e + (1u << Primary);
    unsigned word = 0; // in the word space behind `first`, 16 bits a word
    for (; i < c.used; ++i) {
        const unsigned run = 1u << (kMaxWord - c.length[i]);
        fillEntries(sub + word, run, entry(c.sorted[i], c.length[i]));
        word += run;
    }
}

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

bool buildPre(Tables &t, const uint8_t *lengths, unsigned n)
{
    if (!t.code.make(lengths, n))
        return false;
    layOut<8>(
        t.pre, t.code, [](unsigned s, unsigned len) { return s | len << 16; },
        [](unsigned index) { return kLink | index; });
    return true;
}

bool buildPosition(Tables &t, const uint8_t *lengths, unsigned n)
{
    if (!t.positions.make(lengths, n))
        return false;
    layOut<kPosBits>(t.position, t.positions, positionEntry, [](unsigned index) { return kPosLink | index << 12; });
    return true;
}

// A code of one symbol that takes no bits: every entry is that symbol.
template <size_t N> void single(uint32_t (&table)[N], unsigned primary, uint32_t entry)
{
    std::fill(table, table + (1u << primary), entry);
}

bool buildLiteral(Tables &t)
{
    const auto &c = t.code;
    const auto &p = t.positions;
    if (t.loneLiteral >= 0) {
        const unsigned s = static_cast<unsigned>(t.loneLiteral);
        // Two of a lone literal per look-up, as with pairs.
        single(t.literal, kLitBits, s < 256 ? 2u << 6 | s << 8 | s << 16 : literalEntry(s, 0));
        return true;
    }
    if (!t.code.make(t.literalLengths, t.literals, t.literalCount))
        return false;
    layOut<kLitBits>(t.literal, c, literalEntry, [](unsigned index) { return kLitLink | index << 8; });
    // A word's run in the first table is indexed by the bits after it.
    // Where those hold a whole second word (the shortest ones first, in
    // canonical order again) of a literal behind a literal, or of a
    // position behind a copy length, the entry gets both.
    const unsigned shortest = c.used ? c.length[0] : kMaxWord;
    const unsigned shortestPosition = p.length[0];
    unsigned at = 0;
    for (unsigned i = 0; i < c.upTo[kLitBits]; ++i) {
        const unsigned len = c.length[i];
        const unsigned run = 1u << (kLitBits - len);
        const unsigned s = c.sorted[i];
        const unsigned room = kLitBits - len;
        if (s < 256) {
            if (len + shortest <= kLitBits) {
                unsigned r = 0;
                for (unsigned j = 0; j < c.upTo[room]; ++j) {
                    const unsigned len2 = c.length[j];
                    const unsigned run2 = 1u << (room - len2);
                    const unsigned s2 = c.sorted[j];
                    if (s2 < 256)
                        fillEntries(t.literal + at + r, run2,
                                    (len + len2) | 2u << 6 | s << 8 | s2 << 16 | len << 24);
                    r += run2;
                }
            }
        } else if (len + shortestPosition <= kLitBits) {
            unsigned r = 0;
            for (unsigned j = 0; j < p.upTo[room]; ++j) {
                const unsigned run2 = 1u << (room - p.length[j]);
                fillEntries(t.literal + at + r, run2, fullEntry(s, len, p.sorted[j], p.length[j]));
                r += run2;
            }
        }
        at += run;
    }
    return true;
}

// The next symbol of a table with kLink entries; 16 bits must be buffered.
inline unsigned decodeSmall(const uint32_t *table, unsigned primary, Bits &in)
{
    uint32_t x = table[in.peek(primary)];
    if (x & kLink)
        x = table[(x & 0xFFFF) + (in.peek(kMaxWord) & ((1u << (kMaxWord - primary)) - 1))];
    in.skip(x >> 16);
    return x & 0xFFFF;
}

// A code length of the pre-code or the position code: 3 bits, and from 7
// on one more for each 1 bit before a 0.
int readLength(Bits &in)
{
    in.refill();
    unsigned len = in.get(3);
    if (len == 7) {
        while (in.get(1) == 1) {
            if (++len > kMaxWord)
                return -1;
            in.refill();
        }
    }
    return static_cast<int>(len);
}

bool readPre(Bits &in, Tables &t)
{
    in.refill();
    const unsigned n = in.get(5);
    if (n == 0) {
        const unsigned s = in.get(5);
        if (s >= kPreCodes)
            return false;
        single(t.pre, 8, s);
        return true;
    }
    if (n > kPreCodes)
        return false;
    uint8_t lengths[kPreCodes + 4] = {};
    for (unsigned i = 0; i < n; ++i) {
        const int len = readLength(in);
        if (len < 0)
            return false;
        lengths[i] = static_cast<uint8_t>(len);
        if (i == 2) {
            // How many of the next codes (3 to 5) are unused.
            in.refill();
            i += in.get(2);
        }
    }
    return buildPre(t, lengths, n);
}

bool readLiteral(Bits &in, Tables &t)
{
    in.refill();
    const unsigned n = in.get(9);
    if (n == 0) {
        const unsigned s = in.get(9);
        if (s >= kLiteralCodes)
            return false;
        t.loneLiteral = static_cast<int>(s);
        return true;
    }
    if (n > kLiteralCodes)
        return false;
    t.loneLiteral = -1;
    t.literals = n;
    uint8_t *const lengths = t.literalLengths;
    unsigned *const count = t.literalCount;
    std::memset(lengths, 0, n);
    std::fill(count, count + kMaxWord + 1, 0u);
    unsigned i = 0;
    while (i < n) {
        in.refill();
        const unsigned c = decodeSmall(t.pre, 8, in);
        if (c > 2) {
            lengths[i++] = static_cast<uint8_t>(c - 2);
            ++count[c - 2];
            continue;
        }
        // Runs of unused codes.
        unsigned skip = 1;
        if (c == 1)
            skip = in.get(4) + 3;
        else if (c == 2)
            skip = in.get(9) + 20;
        i = std::min(n, i + skip);
    }
    return true;
}

bool readPosition(Bits &in, Tables &t, unsigned codes, unsigned countBits)
{
    in.refill();
    const unsigned n = in.get(countBits);
    if (n == 0) {
        const unsigned s = in.get(countBits);
        if (s >= codes)
            return false;
        single(t.position, kPosBits, positionEntry(s, 0));
        t.positions.lone(s);
        return true;
    }
    if (n > codes)
        return false;
    uint8_t lengths[kMaxPositions] = {};
    for (unsigned i = 0; i < n; ++i) {
        const int len = readLength(in);
        if (len < 0)
            return false;
        lengths[i] = static_cast<uint8_t>(len);
    }
    return buildPosition(t, lengths, n);
}

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

// `len` bytes from `dist` back, `dist` at least 8. Whole chunks: they may
// write past the end, into slack. A chunk never reads what it writes.
inline void copyMatch(uint8_t *d, size_t dist, unsigned len)
{
    const uint8_t *s = d - dist;
    if (dist >= 16) {
        std::memcpy(d, s, 16);
        for (unsigned i = 16; i < len; i += 16)
            std::memcpy(d + i, s + i, 16);
    } else {
        std::memcpy(d, s, 8);
        for (unsigned i = 8; i < len; i += 8)
            std::memcpy(d + i, s + i, 8);
    }
}

// Short distances repeat a pattern shorter than a chunk.
inline void copyShort(uint8_t *d, size_t dist, unsigned len)
{
    if (dist == 1) {
        std::memset(d, d[-1], len);
        return;
    }
    const uint8_t *s = d - dist;
    for (unsigned i = 0; i < len; ++i)
        d[i] = s[i];
}

template <unsigned DictBits>
DecodeStatus run(Bits &in, std::vector<uint8_t> &outBuf, Tables &t, uint64_t size, const Sink &sink)
{
    // LHA's position codes: 14 of them up to -lh5-, then one per
    // dictionary bit and one for distance 1.
    constexpr unsigned kPositions = DictBits <= 13 ? 14 : DictBits + 1;
    constexpr unsigned kCountBits = DictBits <= 13 ? 4 : 5;
    constexpr size_t kWindow = size_t{1} << DictBits;
    // Output gathers behind the window's copy and goes out in blocks of
    // kBlock; the slack takes a match's overshoot and its chunks'.
    constexpr size_t kBlock = std::max<size_t>(kWindow, 256 * 1024);
    constexpr size_t kSlack = kMaxMatch + 16;

    outBuf.resize(kWindow + kBlock + kSlack);
    uint8_t *const out = outBuf.data();
    // Before the first byte the history holds blanks, as LHA's decoders have it.
    std::memset(out, ' ', kWindow);
    uint8_t *q = out + kWindow;
    uint8_t *sent = q;
    uint8_t *const stop = out + kWindow + kBlock;
    uint64_t left = size;
    unsigned blockLeft = 0;
    const uint32_t *const lit = t.literal;
    const uint32_t *const pos = t.position;

    while (left > 0) {
        if (blockLeft == 0) {
            in.refill();
            blockLeft = in.get(16);
            if (!readPre(in, t) || !readLiteral(in, t) || !readPosition(in, t, kPositions, kCountBits)
                || !buildLiteral(t) || in.overrun())
                return DecodeStatus::Damaged;
            continue;
        }
        if (q >= stop) {
            if (!sink(sent, static_cast<size_t>(q - sent)))
                return DecodeStatus::Stopped;
            std::memmove(out, q - kWindow, kWindow);
            q = out + kWindow;
            sent = q;
        }

        // The fast loop: while the input holds two refills, the block six
        // symbols or more and the output room for the longest copy and a
        // few literals, no symbol needs a check of its own. The bit state
        // lives in locals: the byte stores could alias members and would
        // force them back to memory at every step.
        {
            uint64_t bits = in.bits_;
            unsigned count = in.count_;
            const uint8_t *ip = in.buf_.data() + in.p_;
            const uint8_t *const ipEnd = in.buf_.data() + in.end_;
            constexpr unsigned kMargin = kMaxMatch + 8;
            uint8_t *const qEnd = left > kMargin ? q + std::min<uint64_t>(stop - q, left - kMargin) : q;
            uint8_t *const q0 = q;
            // A position word and its extra bits take up to this many.
            constexpr unsigned kPositionBits = kMaxWord + (kPositions - 2);
            // At least 56 bits counted afterwards.
            auto refill = [&] {
                bits |= loadBigEndian64(ip) >> count;
                ip += (63 - count) >> 3;
                count |= 56;
            };
            auto take = [&](unsigned n) {
                bits <<= n;
                count -= n;
            };
            auto literal = [&](uint32_t e) {
                const unsigned n = (e >> 6) & 3;
                q[0] = static_cast<uint8_t>(e >> 8);
                q[1] = static_cast<uint8_t>(e >> 16); // a slack byte when alone
                q += n;
                blockLeft -= n;
            };
            // What the entry of a copy takes at most: a copy length's and a
            // position's word with its extra bits, or the same within the
            // first look-up (kFull).
            constexpr unsigned kCopyBits = kMaxWord + kPositionBits;
            constexpr unsigned kFullBits = kLitBits + (kPositions - 2);
            // A refill counts 56 bits or more but loads 64 of the stream;
            // after taking n of them, 64 - n are still the stream's. So an
            // entry is looked up ahead of the refill that follows wherever
            // 16 of those remain: the refill's load waits for the bits just
            // taken, and would otherwise stand between every two look-ups.
            // `Taken` below counts the bits taken since the last refill.
            constexpr unsigned kCounted = 56;
            constexpr unsigned kLoaded = 64;
            size_t dist = 0;
            unsigned len = 0;
            uint32_t x = 0;
            // The copy of entry `x`, not yet taken; afterwards the buffer
            // is just refilled and `x` the entry at its top.
            auto copy = [&](auto taken) {
                constexpr unsigned kTaken = decltype(taken)::value;
                len = (x >> 16) & 0x1FF;
                --blockLeft;
                if (x & kFull) {
                    static_assert(kTaken + kFullBits <= kLoaded);
                    dist = fullDistance(x, bits);
                    if constexpr (kTaken + kFullBits <= kCounted) {
                        take(x & 63);
                        if constexpr (kTaken + kFullBits + kMaxWord <= kLoaded) {
                            x = lookupLiteral(lit, bits);
                            refill();
                        } else {
                            refill();
                            x = lookupLiteral(lit, bits);
                        }
                    } else {
                        refill();
                        take(x & 63);
                        x = lookupLiteral(lit, bits);
                        refill();
                    }
                    return;
                }
                take(x & 63);
                static_assert(kTaken + kMaxWord + kMaxWord <= kLoaded);
                const uint32_t y = lookupPosition(pos, bits);
                if constexpr (kTaken + kCopyBits <= kCounted) {
                    dist = distance(y, bits);
                    take(y & 63);
                    if constexpr (kTaken + kCopyBits + kMaxWord <= kLoaded) {
                        x = lookupLiteral(lit, bits);
                        refill();
                    } else {
                        refill();
                        x = lookupLiteral(lit, bits);
                    }
                } else {
                    refill();
                    dist = distance(y, bits);
                    take(y & 63);
                    x = lookupLiteral(lit, bits);
                    refill();
                }
            };
            using None = std::integral_constant<unsigned, 0>;
            using One = std::integral_constant<unsigned, kMaxWord>;
            using Two = std::integral_constant<unsigned, 2 * kMaxWord>;
            bool bad = false;
            if (ipEnd - ip >= 16) {
                refill();
                x = lookupLiteral(lit, bits);
                while (ipEnd - ip >= 16 && q < qEnd && blockLeft >= 6) {
                    // Up to three literal entries of 16 bits at most, or a
                    // copy behind none, one or two of them.
                    if (!(x & kMatch)) {
                        take(x & 63);
                        literal(x);
                        x = lookupLiteral(lit, bits);
                        if (!(x & kMatch)) {
                            take(x & 63);
                            literal(x);
                            x = lookupLiteral(lit, bits);
                            if (!(x & kMatch)) {
                                take(x & 63);
                                literal(x);
                                x = lookupLiteral(lit, bits);
                                refill();
                                continue;
                            }
                            copy(Two());
                        } else {
                            copy(One());
                        }
                    } else {
                        copy(None());
                    }
                    if (DictBits < 13 && dist > kWindow) {
                        bad = true;
                        break;
                    }
                    if (dist >= 8)
                        copyMatch(q, dist, len);
                    else
                        copyShort(q, dist, len);
                    q += len;
                }
            }
            left -= static_cast<uint64_t>(q - q0);
            in.bits_ = bits;
            in.count_ = count;
            in.p_ = static_cast<size_t>(ip - in.buf_.data());
            if (bad)
                return DecodeStatus::Damaged;
        }

        // One symbol with every check: near the end of the input read so
        // far, of the block, of the output block or of the entry.
        if (blockLeft == 0 || left == 0 || q >= stop)
            continue;
        in.refill();
        const uint32_t x = lookupLiteral(lit, in.bits_);
        --blockLeft;
        if (!(x & kMatch)) {
            in.skip((x >> 24) & 31);
            *q++ = static_cast<uint8_t>(x >> 8);
            --left;
        } else {
            const unsigned len = (x >> 16) & 0x1FF;
            size_t dist;
            if (x & kFull) {
                dist = fullDistance(x, in.bits_);
                in.skip(x & 63);
            } else {
                in.skip(x & 63);
                const uint32_t y = lookupPosition(pos, in.bits_);
                dist = distance(y, in.bits_);
                in.skip(y & 63);
            }
            if (dist > kWindow)
                return DecodeStatus::Damaged;
            const unsigned n = left < len ? static_cast<unsigned>(left) : len;
            copyShort(q, dist, n);
            q += n;
            left -= n;
        }
        if (in.overrun())
            return DecodeStatus::Damaged;
    }
    if (q > sent && !sink(sent, static_cast<size_t>(q - sent)))
        return DecodeStatus::Stopped;
    return DecodeStatus::Ok;
}

} // namespace

struct FastLzh::Tables : unlha::Tables {};

FastLzh::FastLzh() = default;
FastLzh::~FastLzh() = default;

DecodeStatus FastLzh::decode(unsigned dictBits, const Read &read, uint64_t size, const Sink &sink)
{
    Bits in(read, in_);
    if (!tables_)
        tables_.reset(new Tables); // not cleared: every block builds its own
    switch (dictBits) {
    case 12: return run<12>(in, out_, *tables_, size, sink);
    case 13: return run<13>(in, out_, *tables_, size, sink);
    case 15: return run<15>(in, out_, *tables_, size, sink);
    case 16: return run<16>(in, out_, *tables_, size, sink);
    case 20: return run<20>(in, out_, *tables_, size, sink);
    default: return DecodeStatus::Method;
    }
}

} // namespace unlha
