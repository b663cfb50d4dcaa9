#pragma once
// The library's own decoder for LHA's static-Huffman methods -lh4- to -lh7-
// and -lhx-, the methods nearly every archive uses; built for speed: a
// 64-bit bit buffer refilled a word at a time, one table look-up for two
// short literals or for a whole copy (length, position and its extra
// bits), wide match copies, output handed on in large blocks.
//
// It is deliberately strict: code lengths the format cannot produce, codes
// with more or fewer words than there are, a distance beyond the window or
// data cut short all end as Damaged, never with guessed output. Callers
// then let lhasa decode the entry from its start, so that what a damaged
// entry extracts to does not depend on this decoder.
#include "unlha32/decoder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace unlha {

class FastLzh {
public:
    // Fills `buf` with up to `len` bytes of compressed data; 0 at its end.
    using Read = std::function<size_t(uint8_t *buf, size_t len)>;

    // Decodes exactly `size` bytes to `sink`. Ok, Damaged or Stopped.
    DecodeStatus decode(unsigned dictBits, const Read &read, uint64_t size, const Sink &sink);

    FastLzh();
    ~FastLzh();

private:
    struct Tables;
    std::unique_ptr<Tables> tables_; // code tables, rebuilt by every block
    std::vector<uint8_t> in_;  // compressed data read ahead, kept from entry to entry
    std::vector<uint8_t> out_; // history and output on its way
};

} // namespace unlha
