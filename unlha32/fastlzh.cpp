#include "unlha32/fastlzh.h"

#include "unlha32/lzdecode.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace unlha {
namespace {

constexpr size_t kInputSize = 64 * 1024;
constexpr size_t kInputSlack = 16;
constexpr unsigned kLiteralCodes = 510; // 256 bytes, lengths 3 to 256
constexpr unsigned kPreCodes = 19;
constexpr unsigned kMaxMatch = 256;

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

    // The hot loop keeps the state in locals: its byte stores could alias
    // the members and would force them back to memory at every step.
    struct State {
        uint64_t bits;
        unsigned count;
        unsigned pad;
        size_t p;
        size_t end;
    };
    State save() const { return {bits_, count_, pad_, p_, end_}; }
    void restore(const State &s)
    {
        bits_ = s.bits;
        count_ = s.count;
        pad_ = s.pad;
        p_ = s.p;
        end_ = s.end;
    }
    const uint8_t *data() const { return buf_.data(); }

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

    const FastLzh::Read &read_;
    std::vector<uint8_t> &buf_;
    size_t p_ = 0;
    size_t end_ = 0;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    unsigned pad_ = 0; // zeros from beyond the data at the bottom of the count
    bool eof_ = false;
};

// A canonical prefix code (LHA's order: shorter words first, then by
// symbol) decoded by one look-up of `Primary` bits, and for longer words a
// second of the remaining bits up to 16.
template <unsigned Primary, unsigned Symbols> class Table {
public:
    static constexpr unsigned kSub = 16 - Primary;
    static constexpr uint32_t kBad = 0x80000000u;
    static constexpr uint32_t kLink = 0x40000000u;

    // False for lengths over 16 and for codes with more or fewer words
    // than there are.
    bool build(const uint8_t *lengths, unsigned n)
    {
        unsigned count[17] = {};
        for (unsigned s = 0; s < n; ++s) {
            if (lengths[s] > 16)
                return false;
            ++count[lengths[s]];
        }
        count[0] = 0;
        uint32_t next[18];
        uint32_t code = 0;
        int room = 1;
        for (unsigned len = 1; len <= 16; ++len) {
            room = room * 2 - static_cast<int>(count[len]);
            if (room < 0)
                return false;
            code = (code + count[len - 1]) << 1;
            next[len] = code;
        }
        // Encoders write complete codes (a lone symbol has a form of its
        // own); lhasa reads the words of an incomplete one in ways of its
        // own, so such a code is left to it.
        if (room != 0)
            return false;
        std::fill(e_, e_ + (1u << Primary), kBad);
        unsigned used = 1u << Primary;
        for (unsigned s = 0; s < n; ++s) {
            const unsigned len = lengths[s];
            if (len == 0)
                continue;
            const uint32_t c = next[len]++;
            const uint32_t entry = s | len << 16;
            if (len <= Primary) {
                const unsigned first = c << (Primary - len);
                std::fill(e_ + first, e_ + first + (1u << (Primary - len)), entry);
            } else {
                const unsigned prefix = c >> (len - Primary);
                if (!(e_[prefix] & kLink)) {
                    e_[prefix] = kLink | used;
                    std::fill(e_ + used, e_ + used + (1u << kSub), kBad);
                    used += 1u << kSub;
                }
                const unsigned base = e_[prefix] & 0xFFFF;
                const unsigned low = (c & ((1u << (len - Primary)) - 1)) << (16 - len);
                std::fill(e_ + base + low, e_ + base + low + (1u << (16 - len)), entry);
            }
        }
        return true;
    }
    // Every symbol read is `symbol`, taking no bits.
    void single(unsigned symbol) { std::fill(e_, e_ + (1u << Primary), symbol); }

    // The entry for the word at the top of `bits`: symbol, length << 16;
    // kBad where no symbol owns it.
    inline uint32_t lookup(uint64_t bits) const
    {
        uint32_t x = e_[bits >> (64 - Primary)];
        if (x & kLink)
            x = e_[(x & 0xFFFF) + (static_cast<uint32_t>(bits >> 48) & ((1u << kSub) - 1))];
        return x;
    }

    // The next symbol, or -1; at least 16 bits must be in the buffer.
    inline int decode(Bits &in) const
    {
        uint32_t x = e_[in.peek(Primary)];
        if (x & (kBad | kLink)) {
            if (x & kBad)
                return -1;
            x = e_[(x & 0xFFFF) + (in.peek(16) & ((1u << kSub) - 1))];
            if (x & kBad)
                return -1;
        }
        in.skip(x >> 16);
        return static_cast<int>(x & 0xFFFF);
    }

private:
    uint32_t e_[(1u << Primary) + Symbols * (1u << kSub)];
};

struct Tables {
    Table<8, kPreCodes> pre;
    Table<12, kLiteralCodes> literal;
    Table<10, 24> position;
};

// A code length of the pre-code or the position code: 3 bits, and from 7
// on one more for each 1 bit before a 0.
int readLength(Bits &in)
{
    in.refill();
    unsigned len = in.get(3);
    if (len == 7) {
        while (in.get(1) == 1) {
            if (++len > 16)
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
        t.pre.single(s);
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
    return t.pre.build(lengths, n);
}

bool readLiteral(Bits &in, Tables &t)
{
    in.refill();
    const unsigned n = in.get(9);
    if (n == 0) {
        const unsigned s = in.get(9);
        if (s >= kLiteralCodes)
            return false;
        t.literal.single(s);
        return true;
    }
    if (n > kLiteralCodes)
        return false;
    uint8_t lengths[kLiteralCodes] = {};
    unsigned i = 0;
    while (i < n) {
        in.refill();
        const int c = t.pre.decode(in);
        if (c < 0)
            return false;
        if (c > 2) {
            lengths[i++] = static_cast<uint8_t>(c - 2);
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
    return t.literal.build(lengths, n);
}

bool readPosition(Bits &in, Tables &t, unsigned codes, unsigned countBits)
{
    in.refill();
    const unsigned n = in.get(countBits);
    if (n == 0) {
        const unsigned s = in.get(countBits);
        if (s >= codes)
            return false;
        t.position.single(s);
        return true;
    }
    if (n > codes)
        return false;
    uint8_t lengths[24] = {};
    for (unsigned i = 0; i < n; ++i) {
        const int len = readLength(in);
        if (len < 0)
            return false;
        lengths[i] = static_cast<uint8_t>(len);
    }
    return t.position.build(lengths, n);
}

template <unsigned DictBits>
DecodeStatus run(Bits &in, std::vector<uint8_t> &outBuf, Tables &tableSet, uint64_t size,
                 const Sink &sink)
{
    // LHA's position codes: 14 of them up to -lh5-, then one per
    // dictionary bit and one for distance 1.
    constexpr unsigned kPositions = DictBits <= 13 ? 14 : DictBits + 1;
    constexpr unsigned kCountBits = DictBits <= 13 ? 4 : 5;
    constexpr size_t kWindow = size_t{1} << DictBits;
    // Output gathers behind the window's copy and goes out in blocks of
    // kBlock; the slack takes a match's overshoot.
    constexpr size_t kBlock = std::max<size_t>(kWindow, 256 * 1024);
    constexpr size_t kSlack = kMaxMatch + 16;

    outBuf.resize(kWindow + kBlock + kSlack);
    uint8_t *const out = outBuf.data();
    // Before the first byte the history holds blanks, as LHA's decoders have it.
    std::memset(out, ' ', kWindow);
    size_t q = kWindow;
    size_t sent = kWindow;
    uint64_t left = size;

    Tables *const tables = &tableSet;
    unsigned blockLeft = 0;

    while (left > 0) {
        if (blockLeft == 0) {
            in.refill();
            blockLeft = in.get(16);
            if (!readPre(in, *tables) || !readLiteral(in, *tables)
                || !readPosition(in, *tables, kPositions, kCountBits) || in.overrun())
                return DecodeStatus::Damaged;
            continue;
        }
        if (q >= kWindow + kBlock) {
            if (!sink(out + sent, q - sent))
                return DecodeStatus::Stopped;
            std::memmove(out, out + q - kWindow, kWindow);
            q = kWindow;
            sent = kWindow;
        }
        // Symbols until the block, the output block or the entry ends.
        Bits::State b = in.save();
        const uint8_t *const data = in.data();
        const size_t stop = kWindow + kBlock;
        DecodeStatus bad = DecodeStatus::Ok;
        while (blockLeft > 0 && left > 0 && q < stop) {
            if (b.p + 8 <= b.end) {
                b.bits |= loadBigEndian64(data + b.p) >> b.count;
                b.p += (63 - b.count) >> 3;
                b.count |= 56;
            } else {
                in.restore(b);
                in.refill();
                b = in.save();
            }
            const uint32_t x = tables->literal.lookup(b.bits);
            if (x & Table<12, kLiteralCodes>::kBad) {
                bad = DecodeStatus::Damaged;
                break;
            }
            const unsigned used = x >> 16;
            b.bits <<= used;
            b.count -= used;
            const unsigned c = x & 0xFFFF;
            --blockLeft;
            if (c < 256) {
                out[q++] = static_cast<uint8_t>(c);
                --left;
            } else {
                const unsigned len = c - 253;
                const uint32_t y = tables->position.lookup(b.bits);
                if (y & Table<10, 24>::kBad) {
                    bad = DecodeStatus::Damaged;
                    break;
                }
                const unsigned pused = y >> 16;
                b.bits <<= pused;
                b.count -= pused;
                const unsigned pc = y & 0xFFFF;
                size_t dist = pc + 1;
                if (pc >= 2) {
                    const unsigned extra = pc - 1;
                    dist = (size_t{1} << extra) + static_cast<size_t>(b.bits >> (64 - extra)) + 1;
                    b.bits <<= extra;
                    b.count -= extra;
                }
                if (dist > kWindow) {
                    bad = DecodeStatus::Damaged;
                    break;
                }
                const unsigned n = left < len ? static_cast<unsigned>(left) : len;
                uint8_t *d = out + q;
                const uint8_t *src = d - dist;
                if (dist >= 8) {
                    // Eight at a time; a chunk never reads what it writes.
                    for (unsigned i = 0; i < n; i += 8)
                        std::memcpy(d + i, src + i, 8);
                } else if (dist == 1) {
                    std::memset(d, *src, n);
                } else {
                    for (unsigned i = 0; i < n; ++i)
                        d[i] = src[i];
                }
                q += n;
                left -= n;
            }
            if (b.count < b.pad) {
                bad = DecodeStatus::Damaged;
                break;
            }
        }
        in.restore(b);
        if (bad != DecodeStatus::Ok)
            return bad;
    }
    if (q > sent && !sink(out + sent, q - sent))
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
