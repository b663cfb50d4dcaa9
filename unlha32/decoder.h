#pragma once
// Decompresses the data of one entry, located by its offset and sizes from
// the header walk, so that any entry can be decoded on its own. The table in
// methods.cpp says which decoder reads which method: our own static-Huffman
// decoder (fastlzh.h) for the common ones, lhasa for the rare ones, and our
// decoders of LHA 2.x and LHARK (lzdecode.h) for what lhasa lacks.
#include "unlha32/lzhheader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace unlha {

enum class DecodeStatus {
    Ok,        // all output delivered (size and CRC are the caller's to check)
    Damaged,   // the decoder failed on the data
    Method,    // no decoder for this method
    ReadError, // the archive could not be read
    Stopped,   // the sink asked to stop
};

// Receives decoded bytes in order; returns false to stop.
using Sink = std::function<bool(const uint8_t *data, std::size_t len)>;
// Asked to forget what the sink received so far, when decoding starts over
// from the entry's first byte; false when it cannot. Our static-Huffman
// decoder is stricter than lhasa on damaged data, and lhasa starts over
// whenever ours turns a stream down, so that what a damaged entry extracts
// to is lhasa's; without a restart the bytes already delivered stand.
using Restart = std::function<bool()>;

class FastLzh;

// What a thread's decoders keep from entry to entry, handed to a method's
// decoder with each entry.
struct Decoding {
    explicit Decoding(int archiveFd);
    ~Decoding();

    int fd;
    std::vector<uint8_t> input;    // compressed data read ahead
    std::vector<uint8_t> output;   // decoded or stored data on its way; the history of lzdecode.h
    std::unique_ptr<FastLzh> fast; // made when first needed
};

class EntryDecoder {
public:
    virtual ~EntryDecoder() = default;
    virtual DecodeStatus decode(const Entry &entry, const Sink &sink, const Restart &restart = {}) = 0;
};

// The decoder the extraction uses; one per thread.
std::unique_ptr<EntryDecoder> makeDecoder(int archiveFd);
// lhasa for every method it reads (ours only where it has none): the
// yardstick that differential checks hold our decoders against.
std::unique_ptr<EntryDecoder> makeReferenceDecoder(int archiveFd);

} // namespace unlha
