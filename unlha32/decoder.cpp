#include "unlha32/decoder.h"

#include "unlha32/fastlzh.h"
#include "unlha32/fileread.h"
#include "unlha32/lzdecode.h"
#include "unlha32/methods.h"

#include <lha_decoder.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace unlha {
namespace {

DecodeStatus copyStored(int fd, const Entry &e, const Sink &sink, std::vector<uint8_t> &buf)
{
    Window w{fd, e.dataOffset, e.dataOffset + e.packedSize};
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

class LhasaDecoder final : public EntryDecoder {
public:
    explicit LhasaDecoder(int fd) : fd_(fd), in_(64 * 1024), buf_(64 * 1024) {}

    DecodeStatus decode(const Entry &e, const Sink &sink, const Restart & = {}) override
    {
        const Method *m = methodOf(e);
        if (m && m->coder == Coder::Stored)
            return copyStored(fd_, e, sink, buf_);
        if (m && (m->coder == Coder::Lh2 || m->coder == Coder::Lh3 || m->coder == Coder::Lhark))
            return decodeOwn(fd_, e, sink, in_, buf_);
        char name[6];
        std::memcpy(name, e.method, 6);
        LHADecoderType *type = lha_decoder_for_name(name);
        if (!type)
            return DecodeStatus::Method;
        // lhasa asks for one to four bytes at a time: they are served from
        // a buffer filled by large reads, not by a system call each.
        BufferedReader w({fd_, e.dataOffset, e.dataOffset + e.packedSize}, in_);
        auto feed = [](void *buf, size_t len, void *user) -> size_t {
            return static_cast<BufferedReader *>(user)->read(buf, len);
        };
        LHADecoder *d = lha_decoder_new(type, feed, &w, static_cast<size_t>(e.originalSize));
        if (!d)
            return DecodeStatus::Damaged;
        DecodeStatus st = DecodeStatus::Ok;
        uint64_t done = 0;
        // The decoder stops at the original size, so this loop is bounded
        // even on hostile data.
        while (done < e.originalSize) {
            const size_t n = lha_decoder_read(d, buf_.data(), buf_.size());
            if (n == 0)
                break;
            done += n;
            if (!sink(buf_.data(), n)) {
                st = DecodeStatus::Stopped;
                break;
            }
        }
        lha_decoder_free(d);
        if (st == DecodeStatus::Ok && w.error())
            st = DecodeStatus::ReadError;
        return st;
    }

private:
    int fd_;
    std::vector<uint8_t> in_;  // compressed data read ahead
    std::vector<uint8_t> buf_; // decoded data, stored data on its way, our own decoders' history
};

// Our own decoder for LHA's static-Huffman methods, lhasa for the rest.
// Ours is stricter than lhasa on damaged data; whatever it turns down lhasa
// decodes from the entry's first byte, so that no outcome depends on which
// of the two read the entry.
class FastDecoder final : public EntryDecoder {
public:
    explicit FastDecoder(int fd) : fd_(fd), fallback_(fd) {}

    DecodeStatus decode(const Entry &e, const Sink &sink, const Restart &restart = {}) override
    {
        const Method *m = methodOf(e);
        if (!m || m->coder != Coder::Fast)
            return fallback_.decode(e, sink);
        const unsigned bits = m->dictBits;
        Window w{fd_, e.dataOffset, e.dataOffset + e.packedSize};
        uint64_t delivered = 0;
        const DecodeStatus st = fast_.decode(
            bits, [&w](uint8_t *buf, size_t len) { return w.read(buf, len); }, e.originalSize,
            [&](const uint8_t *data, size_t len) {
                delivered += len;
                return sink(data, len);
            });
        if (w.error)
            return DecodeStatus::ReadError;
        if (st != DecodeStatus::Damaged)
            return st;
        if (delivered == 0 || (restart && restart()))
            return fallback_.decode(e, sink);
        // The sink cannot start over: its bytes stand, the caller judges them.
        return st;
    }

private:
    int fd_;
    FastLzh fast_;
    LhasaDecoder fallback_;
};

} // namespace

std::unique_ptr<EntryDecoder> makeDecoder(int archiveFd)
{
    return std::make_unique<FastDecoder>(archiveFd);
}

std::unique_ptr<EntryDecoder> makeReferenceDecoder(int archiveFd)
{
    return std::make_unique<LhasaDecoder>(archiveFd);
}

} // namespace unlha
