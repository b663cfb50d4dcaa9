#pragma once
// Decompresses the data of one entry, located by its offset and sizes from
// the header scan, so that any entry can be decoded on its own. Two
// backends behind one interface: the fast one (Backend::Libarchive, named
// for what it used to be) decodes -lh5- to -lh7- with the library's own
// decoder (fastlzh.h), the other uses lhasa for the rest; the library's own
// decoders (lzdecode.h) serve the methods lhasa lacks in both.
#include "unlha32/lzhheader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace unlha {

enum class Backend { Libarchive, Lhasa };

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
// from the entry's first byte; false when it cannot. The fast backend
// starts over with lhasa whenever its own decoder turns the stream down, so
// that the outcome does not depend on the backend; without a restart its
// bytes stand.
using Restart = std::function<bool()>;

class EntryDecoder {
public:
    virtual ~EntryDecoder() = default;
    virtual DecodeStatus decode(const Entry &entry, const Sink &sink, const Restart &restart = {}) = 0;
};

// One backend for the whole archive, chosen before anything is written:
// the fast one when every entry suits it. Either hands the methods of our
// own decoders to them.
bool suitsLibarchive(const Entry &entry);
Backend chooseBackend(const std::vector<Entry> &entries);
std::unique_ptr<EntryDecoder> makeDecoder(Backend backend, int archiveFd);

// Whether some backend can decode this entry's method.
bool methodSupported(const Entry &entry);
// Methods whose data is stored as is.
bool isStoredMethod(const Entry &entry);

} // namespace unlha
