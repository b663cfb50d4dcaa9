#pragma once
// Reading the archive: pread that carries on after a signal, a part of the
// file read from front to back, and a buffer in front of that for readers
// that ask for a few bytes at a time or move about a small neighbourhood.
#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace unlha {

// One pread, made again when a signal interrupts it: the bytes read, 0 at
// the end of the file, -1 on an error.
ssize_t preadOnce(int fd, void *buf, size_t len, uint64_t off);

// All `len` bytes at `off`; false where the file ends first or a read fails.
bool readFull(int fd, uint64_t off, void *buf, size_t len);

// Reads [pos, end) of the archive.
struct Window {
    int fd;
    uint64_t pos;
    uint64_t end;
    bool error = false;

    // Up to `len` bytes at pos, as many as one read gives; 0 at the end, or
    // on a read error, which sets `error`.
    size_t read(void *buf, size_t len);
    // `len` bytes at pos; fewer only at the end or on a read error.
    size_t readAll(void *buf, size_t len);
};

// A window read through a buffer filled by large reads, so that a reader
// asking for a few bytes at a time costs one system call per buffer, not
// one per request. The buffer is the caller's, so that one allocation
// serves entry after entry; its size is the size of each read.
class BufferedReader {
public:
    BufferedReader(Window window, std::vector<uint8_t> &buffer) : w_(window), buf_(buffer) {}

    // The next `len` bytes of the window; fewer only at its end or on a
    // read error.
    size_t read(void *out, size_t len)
    {
        auto *o = static_cast<uint8_t *>(out);
        size_t done = 0;
        while (done < len) {
            if (at_ == filled_) {
                // A request the buffer could not hold goes straight to the file.
                if (len - done >= buf_.size())
                    return done + w_.readAll(o + done, len - done);
                filled_ = w_.read(buf_.data(), buf_.size());
                at_ = 0;
                if (filled_ == 0)
                    break;
            }
            const size_t n = std::min(len - done, filled_ - at_);
            std::memcpy(o + done, buf_.data() + at_, n);
            at_ += n;
            done += n;
        }
        return done;
    }

    // All `len` bytes at `off`, for readers that jump about; read() is for
    // those that go front to back, and the two do not mix. Bytes the buffer
    // still holds are not read again, so that a reader moving about a small
    // neighbourhood costs few system calls; a request for more than half
    // the buffer bypasses it and leaves it be. False where the window ends
    // first or a read fails.
    bool readAt(uint64_t off, void *out, size_t len);

    // A read failed, as opposed to the window ending.
    bool error() const { return w_.error; }

private:
    Window w_; // pos: where what the buffer holds ends
    std::vector<uint8_t> &buf_;
    size_t at_ = 0;
    size_t filled_ = 0;
};

} // namespace unlha
