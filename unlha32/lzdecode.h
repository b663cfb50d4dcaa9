#pragma once
// The pieces the library's own decoders of LHA 2.x's -lh2- (adaptive
// Huffman) and -lh3- (static Huffman) and of LHARK's -lh7- share: the
// history that copies read from and that delivers the output in blocks,
// and the frame that runs one of them over an entry. Their bits come
// through the bit reader (bitreader.h), their codes through the table
// builder (prefixcode.h), LHARK's code lengths through the reader that the
// static-Huffman decoder uses too (codelengths.h).
#include "unlha32/bitreader.h"
#include "unlha32/decoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unlha {

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

// Decodes until the history holds the original size or the sink stops it;
// false where the data breaks the method's rules. Checks in.overrun() at
// least once a symbol, so that a stream cut short ends there.
using LzDecode = bool (*)(BitReader &in, History &out);

// Runs `method` over the entry's data, `d.input` holding what is read
// ahead and `d.output` the history.
DecodeStatus decodeLz(Decoding &d, const Entry &e, const Sink &sink, LzDecode method);

// The count of codes that opens a static-Huffman block; a count of 0 is
// 65536 codes, as LHA reads it.
inline unsigned blockCount(BitReader &in)
{
    const unsigned n = in.read(16);
    return n == 0 ? 0x10000 : n;
}

} // namespace unlha
