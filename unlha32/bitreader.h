#pragma once
// The bit reader of the library's own decoders: an entry's compressed data,
// most significant bit of each byte first, through a 64-bit buffer that is
// refilled a word at a time. The static-Huffman decoder's hot loop copies
// the buffer's state into registers and puts it back (fastlzh.cpp), which
// is why the state is public.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace unlha {

inline uint64_t loadBigEndian64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// Past the end of the data the bits read as zeros; taking any of them marks
// the stream as cut short, for good.
class BitReader {
public:
    // Fills `buf` with up to `len` bytes of compressed data; 0 at its end.
    using Read = std::function<size_t(uint8_t *buf, size_t len)>;

    static constexpr size_t kInputSize = 64 * 1024;
    // Behind the data read: a word loaded at its last byte stays inside.
    static constexpr size_t kInputSlack = 16;

    // `buf` holds the data read ahead; it is the caller's, so that one
    // allocation serves entry after entry.
    BitReader(const Read &read, std::vector<uint8_t> &buf) : read_(read), buf_(buf)
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
    // 1 to 32 bits, no more than a refill left buffered.
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

    // For decoders that take a few bits at a time without counting them:
    // at least `n` (up to 56) bits buffered afterwards.
    inline void need(unsigned n)
    {
        if (count_ < n)
            refill();
    }
    // The next `n` bits, 0 to 32, refilled where fewer are buffered.
    inline uint32_t read(unsigned n)
    {
        if (n == 0)
            return 0;
        need(n);
        return get(n);
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
        // Keep the counts from running away. Zeros beyond a full buffer's
        // 64 bits mean some were taken already; above any count, they stay
        // so: once cut short, a stream stays so.
        if (pad_ > 64)
            pad_ = 65;
    }

    const Read &read_;
    std::vector<uint8_t> &buf_;
    size_t p_ = 0;
    size_t end_ = 0;
    uint64_t bits_ = 0; // left-aligned
    unsigned count_ = 0;
    unsigned pad_ = 0; // zeros from beyond the data at the bottom of the count
    bool eof_ = false;
};

} // namespace unlha
