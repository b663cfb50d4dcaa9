#include "unlha32/fastlzhcodes.h"

#include <algorithm>

namespace unlha {
namespace fastlzh {
namespace {

bool buildPosition(Tables &t, const CodeLengths &c)
{
    if (!t.positions.make(c.length, c.symbols, c.count, Unused::Refused))
        return false;
    layOut<kPosBits>(
        t.position, t.positions, positionEntry, [](unsigned index) { return kPosLink | index << 12; }, 0);
    return true;
}

// A code of one symbol that takes no bits: every entry is that symbol.
template <size_t N> void single(uint32_t (&table)[N], unsigned primary, uint32_t entry)
{
    std::fill(table, table + (1u << primary), entry);
}

} // namespace

bool buildLiteral(Tables &t)
{
    const auto &c = t.code;
    const auto &p = t.positions;
    const CodeLengths &l = t.literalCode;
    if (l.lone >= 0) {
        const unsigned s = static_cast<unsigned>(l.lone);
        // Two of a lone literal per look-up, as with pairs.
        single(t.literal, kLitBits, s < 256 ? 2u << 6 | s << 8 | s << 16 : literalEntry(s, 0));
        return true;
    }
    if (!t.code.make(l.length, l.symbols, l.count, Unused::Refused))
        return false;
    layOut<kLitBits>(
        t.literal, c, literalEntry, [](unsigned index) { return kLitLink | index << 8; }, 0);
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

bool readPre(BitReader &in, Tables &t)
{
    CodeLengths l;
    if (!readSmallLengths(in, kPreCountBits, kPreCodes, true, l))
        return false;
    if (l.lone >= 0) {
        if (l.lone >= static_cast<int>(kPreCodes))
            return false;
        t.pre.lone(static_cast<unsigned>(l.lone));
        return true;
    }
    return t.pre.assign(l.length, l.symbols, l.count, Unused::Refused);
}

bool readLiteral(BitReader &in, Tables &t)
{
    return readLiteralLengths(in, t.pre, kLiteralCodes, t.literalCode)
        && t.literalCode.lone < static_cast<int>(kLiteralCodes);
}

bool readPosition(BitReader &in, Tables &t, unsigned codes, unsigned countBits)
{
    CodeLengths l;
    if (!readSmallLengths(in, countBits, codes, false, l))
        return false;
    if (l.lone >= 0) {
        const auto s = static_cast<unsigned>(l.lone);
        if (s >= codes)
            return false;
        single(t.position, kPosBits, positionEntry(s, 0));
        t.positions.lone(s);
        return true;
    }
    return buildPosition(t, l);
}

} // namespace fastlzh
} // namespace unlha
