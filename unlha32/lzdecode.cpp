#include "unlha32/lzdecode.h"

#include "unlha32/fileread.h"

#include <cstring>

namespace unlha {

DecodeStatus decodeLz(Decoding &d, const Entry &e, const Sink &sink, LzDecode method)
{
    Window w{d.fd, e.dataOffset, e.dataOffset + e.packedSize};
    const BitReader::Read read = [&w](uint8_t *buf, size_t len) { return w.read(buf, len); };
    BitReader in(read, d.input);
    History out(d.output, e.originalSize, sink);
    const bool intact = method(in, out);
    if (out.stopped())
        return DecodeStatus::Stopped;
    if (w.error)
        return DecodeStatus::ReadError;
    if (!intact || in.overrun())
        return DecodeStatus::Damaged;
    return out.finish() ? DecodeStatus::Ok : DecodeStatus::Stopped;
}

History::History(std::vector<uint8_t> &ring, uint64_t size, const Sink &sink) : sink_(sink), left_(size)
{
    ring.resize(kSize);
    std::memset(ring.data(), ' ', kSize);
    ring_ = ring.data();
}

void History::deliver(size_t n)
{
    if (!sink_(ring_, n))
        stopped_ = true;
}

bool History::finish()
{
    const size_t n = pos_ & kMask;
    if (n > 0 && !stopped_)
        deliver(n);
    return !stopped_;
}

} // namespace unlha
