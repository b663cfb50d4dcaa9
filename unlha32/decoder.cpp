#include "unlha32/decoder.h"

#include "unlha32/lzdecode.h"

#include <archive.h>
#include <archive_entry.h>
#include <lha_decoder.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace unlha {
namespace {

constexpr size_t kBufferSize = 128 * 1024;

bool methodIs(const Entry &e, const char *m) { return std::memcmp(e.method, m, 5) == 0; }

// lhasa asks for one to four bytes at a time: it is served from a buffer
// filled by large reads, not by a system call per request.
struct BufferedWindow {
    Window w;
    std::vector<uint8_t> &buf;
    size_t at = 0;
    size_t filled = 0;

    size_t read(void *out, size_t len)
    {
        auto *o = static_cast<uint8_t *>(out);
        size_t done = 0;
        while (done < len) {
            if (at == filled) {
                filled = w.read(buf.data(), buf.size());
                at = 0;
                if (filled == 0)
                    break;
            }
            const size_t n = std::min(len - done, filled - at);
            std::memcpy(o + done, buf.data() + at, n);
            at += n;
            done += n;
        }
        return done;
    }
};

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
        if (isStoredMethod(e))
            return copyStored(fd_, e, sink, buf_);
        if (ownMethod(e) != OwnMethod::None)
            return decodeOwn(fd_, e, sink, in_, buf_);
        char name[6];
        std::memcpy(name, e.method, 6);
        LHADecoderType *type = lha_decoder_for_name(name);
        if (!type)
            return DecodeStatus::Method;
        BufferedWindow w{{fd_, e.dataOffset, e.dataOffset + e.packedSize}, in_};
        auto feed = [](void *buf, size_t len, void *user) -> size_t {
            return static_cast<BufferedWindow *>(user)->read(buf, len);
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
        if (st == DecodeStatus::Ok && w.w.error)
            st = DecodeStatus::ReadError;
        return st;
    }

private:
    int fd_;
    std::vector<uint8_t> in_;  // compressed data read ahead
    std::vector<uint8_t> buf_; // decoded data, stored data on its way, our own decoders' history
};

// A level-0 header for `e` with the one-letter name "x": method, sizes and
// CRC from the entry, a fixed date, no extended area.
std::string plainHeader(const Entry &e)
{
    std::string h(24 + 1, '\0');
    auto put32 = [&h](size_t at, uint64_t v) {
        for (int i = 0; i < 4; ++i)
            h[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    h[0] = static_cast<char>(h.size() - 2);
    std::memcpy(&h[2], e.method, 5);
    put32(7, e.packedSize);
    put32(11, e.originalSize);
    put32(15, 0x00210000u); // 1980-01-01 00:00 in MS-DOS form
    h[19] = 0x20;           // archive attribute
    h[20] = 0;              // header level
    h[21] = 1;              // name length
    h[22] = 'x';
    h[23] = static_cast<char>(e.crc & 0xFF);
    h[24] = static_cast<char>(e.crc >> 8);
    unsigned sum = 0;
    for (size_t i = 2; i < h.size(); ++i)
        sum += static_cast<unsigned char>(h[i]);
    h[1] = static_cast<char>(sum & 0xFF);
    return h;
}

class LibarchiveDecoder final : public EntryDecoder {
public:
    explicit LibarchiveDecoder(int fd) : fd_(fd), buf_(kBufferSize), fallback_(fd) {}

    DecodeStatus decode(const Entry &e, const Sink &sink, const Restart &restart = {}) override
    {
        if (isStoredMethod(e))
            return copyStored(fd_, e, sink, buf_);
        // Never chosen for these, but an entry may be handed over anyway.
        if (ownMethod(e) != OwnMethod::None)
            return fallback_.decode(e, sink);
        // libarchive reads a header itself. It is given a plain level-0
        // header of our own making (a fixed ASCII name, the entry's method,
        // sizes and CRC) and then the entry's data, so that it never meets
        // the stored name: libarchive refuses names that the process's locale
        // cannot convert, which is every Shift-JIS name. Entries too large
        // for a level-0 header get their own header instead.
        struct Client {
            Window w;
            std::vector<uint8_t> *buf;
            std::string prefix;
            size_t prefixPos;
            bool padded;
        } client{{fd_, e.headerOffset, e.dataOffset + e.packedSize}, &buf_, {}, 0, false};
        if (e.packedSize <= 0xFFFFFFFFu && e.originalSize <= 0xFFFFFFFFu) {
            client.prefix = plainHeader(e);
            client.w.pos = e.dataOffset;
        }
        archive *a = archive_read_new();
        if (!a)
            return DecodeStatus::Damaged;
        archive_read_support_format_lha(a);
        auto readCb = [](archive *, void *user, const void **out) -> la_ssize_t {
            auto *c = static_cast<Client *>(user);
            *out = c->buf->data();
            if (c->prefixPos < c->prefix.size()) {
                const size_t n = std::min(c->prefix.size() - c->prefixPos, c->buf->size());
                std::memcpy(c->buf->data(), c->prefix.data() + c->prefixPos, n);
                c->prefixPos += n;
                return static_cast<la_ssize_t>(n);
            }
            const size_t n = c->w.read(c->buf->data(), c->buf->size());
            if (n > 0 || c->w.error || c->padded)
                return static_cast<la_ssize_t>(n);
            // libarchive asks for one byte beyond the data before it takes
            // the last bits out of its decoder; in a whole archive that is
            // the next header. Zeros read as the end of the archive.
            c->padded = true;
            std::memset(c->buf->data(), 0, 16);
            return 16;
        };
        DecodeStatus st = DecodeStatus::Ok;
        archive_entry *ae = nullptr;
        int r = archive_read_open(a, &client, nullptr, readCb, nullptr);
        if (r == ARCHIVE_OK)
            r = archive_read_next_header(a, &ae);
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
            // libarchive refuses some header variants that our own scan
            // reads; nothing of the entry has been delivered yet, so lhasa
            // takes it from the start.
            archive_read_free(a);
            return fallback_.decode(e, sink);
        }
        // libarchive's output counts only when it is the whole entry:
        // exactly the original size, its own CRC check passed. It decodes a
        // stream to its end where lhasa stops at the original size, and
        // judges a damaged end differently; on any other ending lhasa, which
        // decodes every entry libarchive does not suit, decodes this one
        // too, so that no outcome depends on which backend read the archive.
        uint64_t done = 0;
        bool whole = false;
        while (st == DecodeStatus::Ok) {
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int r = archive_read_data_block(a, &block, &size, &offset);
            if (r == ARCHIVE_EOF) {
                whole = done == e.originalSize;
                break;
            }
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
                st = DecodeStatus::Damaged;
                break;
            }
            if (size == 0) {
                if (r == ARCHIVE_WARN) // a CRC mismatch, or a method it cannot decode
                    break;
                continue;
            }
            // The surplus is not delivered: decoding it could run far
            // beyond what the header promised.
            if (static_cast<uint64_t>(offset) != done || size > e.originalSize - done) {
                st = DecodeStatus::Damaged;
                break;
            }
            done += size;
            if (!sink(static_cast<const uint8_t *>(block), size)) {
                st = DecodeStatus::Stopped;
                break;
            }
        }
        archive_read_free(a);
        if (whole || st == DecodeStatus::Stopped)
            return st;
        if (client.w.error)
            return DecodeStatus::ReadError;
        if (done == 0 || (restart && restart()))
            return fallback_.decode(e, sink);
        // The sink cannot start over: its bytes stand, the caller judges them.
        return st;
    }

private:
    int fd_;
    std::vector<uint8_t> buf_;
    LhasaDecoder fallback_;
};

bool fastMethod(const Entry &e)
{
    return methodIs(e, "-lh0-") || methodIs(e, "-lh5-") || methodIs(e, "-lh6-") || methodIs(e, "-lh7-")
           || methodIs(e, "-lhd-");
}

bool commonOs(uint8_t os)
{
    return os == 0 || os == 'M' || os == 'U' || os == 'J' || os == 'w' || os == 'W';
}

} // namespace

bool isStoredMethod(const Entry &e)
{
    return methodIs(e, "-lh0-") || methodIs(e, "-lz4-") || methodIs(e, "-pm0-");
}

bool methodSupported(const Entry &e)
{
    if (isStoredMethod(e) || methodIs(e, "-lhd-") || ownMethod(e) != OwnMethod::None)
        return true;
    char name[6];
    std::memcpy(name, e.method, 6);
    return lha_decoder_for_name(name) != nullptr;
}

bool suitsLibarchive(const Entry &e)
{
    return fastMethod(e) && ownMethod(e) == OwnMethod::None && e.level <= 2 && commonOs(e.osId);
}

Backend chooseBackend(const std::vector<Entry> &entries)
{
    for (const auto &e : entries) {
        if (!suitsLibarchive(e))
            return Backend::Lhasa;
    }
    return Backend::Libarchive;
}

std::unique_ptr<EntryDecoder> makeDecoder(Backend backend, int archiveFd)
{
    if (backend == Backend::Libarchive)
        return std::make_unique<LibarchiveDecoder>(archiveFd);
    return std::make_unique<LhasaDecoder>(archiveFd);
}

} // namespace unlha
