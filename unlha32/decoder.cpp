#include "unlha32/decoder.h"

#include "unlha32/fastlzh.h"
#include "unlha32/fileread.h"
#include "unlha32/methods.h"

#include <lha_decoder.h>

#include <cstring>

namespace unlha {

Decoding::Decoding(int archiveFd) : fd(archiveFd), input(64 * 1024), output(64 * 1024) {}
Decoding::~Decoding() = default;

DecodeStatus decodeStored(Decoding &d, const Entry &e, const Method &, const Sink &sink)
{
    std::vector<uint8_t> &buf = d.output;
    Window w{d.fd, e.dataOffset, e.dataOffset + e.packedSize};
    uint64_t left = e.originalSize;
    while (left > 0) {
        const size_t want = left < buf.size() ? static_cast<size_t>(left) : buf.size();
        const size_t n = w.read(buf.data(), want);
        if (n == 0)
            return w.error ? DecodeStatus::ReadError : DecodeStatus::Ok; // short: caller sees the size
        if (!sink(buf.data(), n))
            return DecodeStatus::Stopped;
        left -= n;
    }
    return DecodeStatus::Ok;
}

namespace {

// lhasa's decoder of the entry's method, by its name; Method where lhasa
// has none.
DecodeStatus decodeByLhasa(Decoding &d, const Entry &e, const Sink &sink)
{
    char name[6];
    std::memcpy(name, e.method, 6);
    LHADecoderType *type = lha_decoder_for_name(name);
    if (!type)
        return DecodeStatus::Method;
    // lhasa asks for one to four bytes at a time: they are served from
    // a buffer filled by large reads, not by a system call each.
    BufferedReader w({d.fd, e.dataOffset, e.dataOffset + e.packedSize}, d.input);
    auto feed = [](void *buf, size_t len, void *user) -> size_t {
        return static_cast<BufferedReader *>(user)->read(buf, len);
    };
    LHADecoder *decoder = lha_decoder_new(type, feed, &w, static_cast<size_t>(e.originalSize));
    if (!decoder)
        return DecodeStatus::Damaged;
    std::vector<uint8_t> &buf = d.output;
    DecodeStatus st = DecodeStatus::Ok;
    uint64_t done = 0;
    // The decoder stops at the original size, so this loop is bounded
    // even on hostile data.
    while (done < e.originalSize) {
        const size_t n = lha_decoder_read(decoder, buf.data(), buf.size());
        if (n == 0)
            break;
        done += n;
        if (!sink(buf.data(), n)) {
            st = DecodeStatus::Stopped;
            break;
        }
    }
    lha_decoder_free(decoder);
    if (st == DecodeStatus::Ok && w.error())
        st = DecodeStatus::ReadError;
    return st;
}

// Each method by the decoder its row names. Where lhasa reads it too, ours
// is stricter on damaged data: whatever ours turns down lhasa decodes from
// the entry's first byte, so that no outcome depends on which of the two
// read the entry. The reference asks lhasa first wherever it reads the
// method.
class MethodDecoder final : public EntryDecoder {
public:
    MethodDecoder(int fd, bool reference) : d_(fd), reference_(reference) {}

    DecodeStatus decode(const Entry &e, const Sink &sink, const Restart &restart = {}) override
    {
        const Method *m = methodOf(e);
        if (!m || !m->decode || (reference_ && m->lhasa))
            return decodeByLhasa(d_, e, sink);
        if (!m->lhasa)
            return m->decode(d_, e, *m, sink);
        uint64_t delivered = 0;
        const DecodeStatus st = m->decode(d_, e, *m, [&](const uint8_t *data, size_t len) {
            delivered += len;
            return sink(data, len);
        });
        if (st != DecodeStatus::Damaged)
            return st;
        if (delivered == 0 || (restart && restart()))
            return decodeByLhasa(d_, e, sink);
        // The sink cannot start over: its bytes stand, the caller judges them.
        return st;
    }

private:
    Decoding d_;
    bool reference_;
};

} // namespace

std::unique_ptr<EntryDecoder> makeDecoder(int archiveFd)
{
    return std::make_unique<MethodDecoder>(archiveFd, false);
}

std::unique_ptr<EntryDecoder> makeReferenceDecoder(int archiveFd)
{
    return std::make_unique<MethodDecoder>(archiveFd, true);
}

} // namespace unlha
