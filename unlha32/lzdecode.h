#pragma once
// The library's own decoders, for the methods lhasa does not read: LHA 2.x's -lh2- (adaptive Huffman) and -lh3- (static Huffman),
// both over an 8 KiB window, and LHARK's -lh7-, which shares its name with
// LHA's -lh7- but not its coding. Also the pieces they share: bits read
// through a bounded buffer, the history that copies read from and that
// delivers the output in blocks, and prefix codes given by code lengths.
#include "unlha32/decoder.h"
#include "unlha32/fileread.h"
#include "unlha32/methods.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace unlha {

// Decodes an entry of one of those methods (Method if it is none of them). `input` holds compressed data
// read ahead, `history` the window; both are kept from entry to entry.
DecodeStatus decodeOwn(int fd, const Entry &entry, const Sink &sink, std::vector<uint8_t> &input,
                       std::vector<uint8_t> &history);

// An entry's compressed data as bits, most significant bit of each byte
// first. Past the end the bits read as zeros: taking any of them marks the
// stream as cut short, which the decoders check once per symbol.
class BitInput {
public:
    BitInput(int fd, uint64_t begin, uint64_t end, std::vector<uint8_t> &buffer)
        : window_{fd, begin, end}, buffer_(buffer)
    {
    }

    // The next `n` bits (1 to 32) without taking them.
    uint32_t peek(unsigned n)
    {
        if (count_ < n)
            fill();
        return static_cast<uint32_t>(bits_ >> (64 - n));
    }
    // Takes `n` bits, no more than the last peek saw.
    void skip(unsigned n)
    {
        bits_ <<= n;
        count_ -= n;
        if (count_ < padding_) {
            overrun_ = true;
            padding_ = count_;
        }
    }
    uint32_t get(unsigned n)
    {
        if (n == 0)
            return 0;
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // The count of codes that opens a static-Huffman block; a count of 0
    // is 65536 codes, as LHA reads it.
    unsigned blockCount()
    {
        const unsigned n = get(16);
        return n == 0 ? 0x10000 : n;
    }
    bool failed() const { return overrun_ || window_.error; }
    bool readError() const { return window_.error; }

private:
    void fill();

    Window window_;
    std::vector<uint8_t> &buffer_;
    size_t at_ = 0;
    size_t filled_ = 0;
    uint64_t bits_ = 0;    // left-aligned
    unsigned count_ = 0;   // bits in bits_
    unsigned padding_ = 0; // of which zeros from beyond the data, at the bottom
    bool overrun_ = false;
};

// The last 64 KiB of output, which copies read from. The whole of it goes
// to the sink each time it fills, the rest at the end. Output stops at the
// entry's original size whatever the stream says; before the first byte the
// history holds blanks, as LHA's decoders have it.
class History {
public:
    static constexpr unsigned kSize = 1u << 16;

    History(std::vector<uint8_t> &ring, uint64_t size, const Sink &sink);

    bool done() const { return left_ == 0 || stopped_; }
    bool stopped() const { return stopped_; }
    uint64_t position() const { return pos_; }
    void put(uint8_t b)
    {
        ring_[pos_++ & kMask] = b;
        --left_;
        if ((pos_ & kMask) == 0)
            deliver(kSize);
    }
    // `distance` from 1 to kSize.
    void copy(unsigned distance, unsigned length)
    {
        for (; length > 0 && !done(); --length)
            put(ring_[(pos_ - distance) & kMask]);
    }
    // The bytes not yet delivered; false when the sink asked to stop.
    bool finish();

private:
    static constexpr unsigned kMask = kSize - 1;
    void deliver(size_t n);

    uint8_t *ring_;
    const Sink &sink_;
    uint64_t pos_ = 0;
    uint64_t left_;
    bool stopped_ = false;
};

// A prefix code given by the length of each symbol's code word, the words
// assigned in canonical order (shorter first, then by symbol) as in LHA.
class HuffmanCode {
public:
    static constexpr unsigned kMaxLength = 16;
    static constexpr unsigned kMaxSymbols = 512;

    // False where the lengths ask for more words than there are, or for
    // longer ones than the format allows; words left over stay unused.
    bool assign(const uint8_t *lengths, unsigned count);
    // Every symbol read is `symbol`, taking no bits.
    void only(unsigned symbol) { only_ = static_cast<int>(symbol); }
    // The next symbol; -1 where the bits begin no code word.
    int read(BitInput &in) const;

private:
    // Words up to kFastBits long are found by one look-up of that many bits.
    static constexpr unsigned kFastBits = 10;
    std::array<uint16_t, 1u << kFastBits> fast_{}; // symbol << 5 | length; 0: longer or none
    std::array<uint16_t, kMaxLength + 1> count_{};
    std::array<uint16_t, kMaxSymbols> symbols_{};  // by code word
    int only_ = -1;
};

// Each decodes until the history holds the original size or the sink
// stops it; false where the data breaks the method's rules.
bool decodeLh2(BitInput &in, History &out);
bool decodeLh3(BitInput &in, History &out);
bool decodeLhark(BitInput &in, History &out);

} // namespace unlha
