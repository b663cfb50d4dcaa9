#pragma once
// The table builder of the library's own decoders. A prefix code is given
// by the length of each symbol's word, the words assigned in canonical
// order (shorter first, then by symbol) as in LHA. It is decoded by one
// look-up of the first `Primary` bits; a longer word's entry there links to
// a second table of the bits after them, up to 16.
//
// In canonical order the words up to `Primary` bits fill the first table
// from its start, each over a run of 2^(Primary - length) entries, and the
// longer ones fill the 16-bit word space behind them in the same way: both
// are laid out in one pass over the symbols sorted by length (layOut). What
// an entry holds is the decoder's: PrefixCode below holds a symbol and its
// length, the static-Huffman decoder's own tables hold more
// (fastlzhcodes.h).
#include "unlha32/bitreader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace unlha {

constexpr unsigned kMaxWord = 16;

// Whether a code may leave words over. Encoders write complete codes; LHA's
// decoders read an incomplete one, the words over as no symbol.
enum class Unused {
    Refused, // our static-Huffman decoder: lhasa, which takes over, reads them its own way
    Allowed, // the decoders lhasa lacks
};

// The symbols of a code sorted by length, then by symbol.
template <unsigned Capacity> struct Canonical {
    uint16_t sorted[Capacity]; // used symbols by length, then symbol
    uint8_t length[Capacity];  // of each in `sorted`
    unsigned used = 0;
    unsigned upTo[kMaxWord + 1]; // how many of `sorted` are at most this long

    // False where the lengths ask for more words than there are, or leave
    // some over where that is refused. `count` holds how many symbols have
    // each length (count[0] is not read); no length is over 16.
    bool make(const uint8_t *lengths, unsigned n, const unsigned *count, Unused unused)
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
        if (room != 0 && unused == Unused::Refused)
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

// Lays out code `c` in table `e`, which holds 2^Primary entries and behind
// them room for a second table of 2^(16 - Primary) for each longer word:
// entry(symbol, length) gives each word's entry, link(index) the first
// table's entry for a prefix of longer words whose second table starts at
// `index`, `none` the entry of words the code leaves over.
template <unsigned Primary, unsigned Capacity, typename Entry, typename Link>
void layOut(uint32_t *e, const Canonical<Capacity> &c, Entry entry, Link link, uint32_t none)
{
    constexpr unsigned kSub = kMaxWord - Primary;
    unsigned at = 0;
    unsigned i = 0;
    // Held apart: the table's stores could alias the count.
    const unsigned shortWords = c.upTo[Primary];
    for (; i < shortWords; ++i) {
        const unsigned run = 1u << (Primary - c.length[i]);
        fillEntries(e + at, run, entry(c.sorted[i], c.length[i]));
        at += run;
    }
    if (at == (1u << Primary))
        return;
    const unsigned first = at;
    uint32_t *sub = e + (1u << Primary);
    unsigned word = 0; // in the word space behind `first`, 16 bits a word
    const unsigned used = c.used;
    for (; i < used; ++i) {
        const unsigned run = 1u << (kMaxWord - c.length[i]);
        fillEntries(sub + word, run, entry(c.sorted[i], c.length[i]));
        word += run;
    }
    // Each prefix that holds longer words links to its second table, which
    // follows the previous one's; a longer word lies within one prefix, so
    // there are no more of them than words. In a complete code they are
    // all the prefixes left, else the rest are words over.
    const unsigned linked = (word + (1u << kSub) - 1) >> kSub;
    for (unsigned k = 0; k < linked; ++k)
        e[first + k] = link((1u << Primary) + (k << kSub));
    std::fill(e + first + linked, e + (1u << Primary), none);
    std::fill(sub + word, sub + (linked << kSub), none);
}

// A code read a symbol at a time. Entries: symbol | length << 16; kLink |
// index for a prefix of longer words; kNone, which takes no bits, for
// words the code leaves over.
template <unsigned Codes, unsigned Primary> class PrefixCode {
public:
    static constexpr uint32_t kLink = 0x80000000u;
    static constexpr uint32_t kNone = 0xFFFFu;

    // False for more than `Codes` lengths, where the lengths ask for more
    // words than there are, or where they leave some over and that is
    // refused. `count` as for Canonical::make.
    bool assign(const uint8_t *lengths, unsigned n, const unsigned *count, Unused unused)
    {
        if (n > Codes || !canonical_.make(lengths, n, count, unused))
            return false;
        layOut<Primary>(
            table_, canonical_, [](unsigned s, unsigned len) { return s | len << 16; },
            [](unsigned index) { return kLink | index; }, kNone);
        return true;
    }
    // The same, counting the lengths; false also for one over 16.
    bool assign(const uint8_t *lengths, unsigned n, Unused unused)
    {
        unsigned count[kMaxWord + 1] = {};
        for (unsigned s = 0; s < n; ++s) {
            if (lengths[s] > kMaxWord)
                return false;
            ++count[lengths[s]];
        }
        return assign(lengths, n, count, unused);
    }
    // Every symbol read is `symbol`, taking no bits.
    void lone(unsigned symbol) { std::fill(table_, table_ + (1u << Primary), symbol); }

    // The next symbol, 16 bits being buffered; kNone where the bits begin
    // a word the code leaves over. For readers that check the symbol's
    // range anyway, which then catches kNone too.
    unsigned decode(BitReader &in) const
    {
        uint32_t x = table_[in.peek(Primary)];
        if (x & kLink)
            x = table_[(x & 0xFFFF) + (in.peek(kMaxWord) & ((1u << (kMaxWord - Primary)) - 1))];
        in.skip(x >> 16);
        return x & 0xFFFF;
    }
    // The next symbol; -1 where the bits begin a word the code leaves over.
    int read(BitReader &in) const
    {
        in.need(kMaxWord);
        const unsigned s = decode(in);
        return s == kNone ? -1 : static_cast<int>(s);
    }

private:
    static_assert((1u << Primary) + (Codes << (kMaxWord - Primary)) <= 0x10000, "links hold 16 bits");
    Canonical<Codes> canonical_;
    uint32_t table_[(1u << Primary) + (Codes << (kMaxWord - Primary))];
};

} // namespace unlha
