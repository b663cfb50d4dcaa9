#include "unlha32/entrysink.h"

#include "unlha32/crc16.h"

#include <unistd.h>

#include <cerrno>

namespace unlha {
namespace {

// Output is gathered to this size before it is written: few system calls,
// and little memory per worker.
constexpr std::size_t kWriteChunk = 256 * 1024;

} // namespace

int writeAll(int fd, const uint8_t *p, std::size_t len)
{
    while (len > 0) {
        const ssize_t w = ::write(fd, p, len);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return w < 0 ? errno : EIO;
        p += w;
        len -= static_cast<std::size_t>(w);
    }
    return 0;
}

DirectOutput::DirectOutput() { buffer_.reserve(kWriteChunk); }

void DirectOutput::begin(int fd)
{
    fd_ = fd;
    crc_ = 0;
    error_ = 0;
    buffer_.clear();
}

bool DirectOutput::write(const uint8_t *data, std::size_t len)
{
    crc_ = crc16Update(crc_, data, len);
    if (error_ == 0)
        error_ = writeAll(fd_, data, len);
    return error_ == 0;
}

bool DirectOutput::push(const uint8_t *data, std::size_t len)
{
    if (buffer_.size() + len > kWriteChunk && !buffer_.empty()) {
        const bool ok = write(buffer_.data(), buffer_.size());
        buffer_.clear();
        if (!ok)
            return false;
    }
    if (len >= kWriteChunk)
        return write(data, len);
    buffer_.insert(buffer_.end(), data, data + len);
    return error_ == 0;
}

void DirectOutput::end(uint16_t &crc, int &writeError)
{
    if (!buffer_.empty())
        write(buffer_.data(), buffer_.size());
    buffer_.clear();
    crc = crc_;
    writeError = error_;
}

void DirectOutput::abandon() { buffer_.clear(); }

DecodeResult decodeEntry(EntryDecoder &decoder, const Entry &e, int fd, FileOutput &output,
                         const std::function<bool()> &stopped, std::atomic<uint64_t> &progress,
                         const std::function<void()> &onBlock)
{
    DecodeResult r;
    uint64_t counted = 0; // what this entry has added to `progress`
    output.begin(fd);
    const Sink sink = [&](const uint8_t *data, std::size_t len) {
        if (stopped()) {
            r.cancelled = true;
            return false;
        }
        // More output than the header promised is damage, and must not fill the disk.
        if (len > e.originalSize - r.written) {
            r.written = e.originalSize + 1;
            return false;
        }
        // False once a write failed; end() below gives the reason.
        if (!output.push(data, len))
            return false;
        r.written += len;
        progress.fetch_add(len, std::memory_order_relaxed);
        counted += len;
        if (onBlock)
            onBlock();
        return true;
    };
    const Restart restart = [&] {
        output.abandon();
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
            return false;
        output.begin(fd);
        progress.fetch_sub(counted, std::memory_order_relaxed);
        counted = 0;
        r = DecodeResult();
        return true;
    };
    r.status = decoder.decode(e, sink, restart);
    if (r.cancelled) {
        output.abandon();
        return r;
    }
    output.end(r.crc, r.writeError);
    // Damaged or not, a finished entry counts with all its bytes.
    if (counted < e.originalSize)
        progress.fetch_add(e.originalSize - counted, std::memory_order_relaxed);
    else
        progress.fetch_sub(counted - e.originalSize, std::memory_order_relaxed);
    return r;
}

} // namespace unlha
