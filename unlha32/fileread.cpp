#include "unlha32/fileread.h"

#include <unistd.h>

#include <cerrno>

namespace unlha {

ssize_t preadOnce(int fd, void *buf, size_t len, uint64_t off)
{
    ssize_t r;
    do
        r = pread(fd, buf, len, static_cast<off_t>(off));
    while (r < 0 && errno == EINTR);
    return r;
}

bool readFull(int fd, uint64_t off, void *buf, size_t len)
{
    Window w{fd, off, off + len};
    return w.readAll(buf, len) == len;
}

size_t Window::read(void *buf, size_t len)
{
    const uint64_t left = end - pos;
    if (len > left)
        len = static_cast<size_t>(left);
    if (len == 0)
        return 0;
    const ssize_t r = preadOnce(fd, buf, len, pos);
    if (r <= 0) {
        error = r < 0;
        return 0;
    }
    pos += static_cast<uint64_t>(r);
    return static_cast<size_t>(r);
}

size_t Window::readAll(void *buf, size_t len)
{
    auto *p = static_cast<uint8_t *>(buf);
    size_t done = 0;
    while (done < len) {
        const size_t n = read(p + done, len - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool BufferedReader::readAt(uint64_t off, void *out, size_t len)
{
    if (len == 0)
        return true;
    if (off > w_.end || len > w_.end - off)
        return false;
    const uint64_t start = w_.pos - filled_;
    if (off >= start && off - start <= filled_ && len <= filled_ - (off - start)) {
        at_ = static_cast<size_t>(off - start);
        std::memcpy(out, buf_.data() + at_, len);
        at_ += len;
        return true;
    }
    if (len > buf_.size() / 2) {
        Window direct{w_.fd, off, w_.end};
        const bool whole = direct.readAll(out, len) == len;
        w_.error = w_.error || direct.error;
        return whole;
    }
    w_.pos = off;
    at_ = filled_ = 0;
    return read(out, len) == len;
}

} // namespace unlha
