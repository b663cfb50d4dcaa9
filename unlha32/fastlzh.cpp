#include "unlha32/fastlzh.h"

#include "unlha32/fastlzhcodes.h"
#include "unlha32/fileread.h"
#include "unlha32/methods.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

namespace unlha {
namespace {

using namespace fastlzh;

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
DecodeStatus run(BitReader &in, std::vector<uint8_t> &outBuf, Tables &t, uint64_t size, const Sink &sink)
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
            // Takes the bits of a copy, which end `Used` bits after the last
            // refill, once `read` has read what it needs of them and said
            // how many there are; then looks up the next entry and refills,
            // the look-up first wherever its word is still in the buffer.
            auto advance = [&](auto used, auto read) {
                constexpr unsigned kUsed = decltype(used)::value;
                if constexpr (kUsed <= kCounted) {
                    take(read());
                    if constexpr (kUsed + kMaxWord <= kLoaded) {
                        x = lookupLiteral(lit, bits);
                        refill();
                    } else {
                        refill();
                        x = lookupLiteral(lit, bits);
                    }
                } else {
                    refill();
                    take(read());
                    x = lookupLiteral(lit, bits);
                    refill();
                }
            };
            // The copy of entry `x`, not yet taken; afterwards the buffer
            // is just refilled and `x` the entry at its top.
            auto copy = [&](auto taken) {
                constexpr unsigned kTaken = decltype(taken)::value;
                len = (x >> 16) & 0x1FF;
                --blockLeft;
                if (x & kFull) {
                    static_assert(kTaken + kFullBits <= kLoaded);
                    dist = fullDistance(x, bits);
                    advance(std::integral_constant<unsigned, kTaken + kFullBits>{}, [&] { return x & 63; });
                    return;
                }
                take(x & 63);
                static_assert(kTaken + kMaxWord + kMaxWord <= kLoaded);
                const uint32_t y = lookupPosition(pos, bits);
                advance(std::integral_constant<unsigned, kTaken + kCopyBits>{}, [&] {
                    dist = distance(y, bits);
                    return y & 63;
                });
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

struct FastLzh::Tables : fastlzh::Tables {};

FastLzh::FastLzh() = default;
FastLzh::~FastLzh() = default;

DecodeStatus FastLzh::decode(unsigned dictBits, const Read &read, uint64_t size, const Sink &sink)
{
    BitReader in(read, in_);
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

DecodeStatus decodeFastLzh(Decoding &d, const Entry &e, const Method &m, const Sink &sink)
{
    if (!d.fast)
        d.fast = std::make_unique<FastLzh>();
    Window w{d.fd, e.dataOffset, e.dataOffset + e.packedSize};
    const DecodeStatus st = d.fast->decode(
        m.dictBits, [&w](uint8_t *buf, size_t len) { return w.read(buf, len); }, e.originalSize, sink);
    return w.error ? DecodeStatus::ReadError : st;
}

} // namespace unlha
