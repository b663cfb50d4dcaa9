#include "unlha32/fastlzhcodes.h"

#include <algorithm>

namespace unlha {
namespace fastlzh {
namespace {

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
} // namespace

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

} // namespace fastlzh
} // namespace unlha
