#include "unlha32/outputpipe.h"

#include "unlha32/crc16.h"
#include "unlha32/threads.h"

#include <cstring>

namespace unlha {
namespace {

// Four buffers of 256 KiB: enough to keep both threads busy, and one write
// per buffer.
constexpr std::size_t kBufferSize = 256 * 1024;
constexpr int kBuffers = 4;

} // namespace

void OutputPipe::process(int fd, const Buffer &buf, uint16_t &crc, int &err)
{
    crc = crc16Update(crc, buf.data(), buf.size());
    err = writeAll(fd, buf.data(), buf.size());
}

OutputPipe::OutputPipe()
{
    for (int i = 0; i < kBuffers; ++i) {
        free_.emplace_back();
        free_.back().reserve(kBufferSize);
    }
    // Without a second thread every buffer is written here, as it fills.
    startThread(thread_, [this] { run(); });
}

OutputPipe::~OutputPipe()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void OutputPipe::begin(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
    crc_ = 0;
    error_ = 0;
    drop_ = false;
}

void OutputPipe::submitCurrent(std::unique_lock<std::mutex> &lock)
{
    if (!thread_.joinable()) {
        Buffer full = std::move(current_);
        current_ = Buffer();
        if (!drop_ && error_ == 0)
            processUnlocked(lock, full);
        full.clear();
        free_.push_back(std::move(full));
        return;
    }
    queue_.push_back(std::move(current_));
    current_ = Buffer();
    cv_.notify_all();
}

bool OutputPipe::push(const uint8_t *data, std::size_t len)
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (len > 0) {
        if (error_ != 0)
            return false;
        if (current_.capacity() == 0) {
            cv_.wait(lock, [this] { return !free_.empty() || error_ != 0; });
            if (error_ != 0)
                return false;
            current_ = std::move(free_.back());
            free_.pop_back();
            current_.clear();
        }
        const std::size_t room = kBufferSize - current_.size();
        const std::size_t n = len < room ? len : room;
        // The copy runs unlocked: the writer never touches current_.
        lock.unlock();
        current_.insert(current_.end(), data, data + n);
        lock.lock();
        data += n;
        len -= n;
        if (current_.size() == kBufferSize)
            submitCurrent(lock);
    }
    return error_ == 0;
}

void OutputPipe::end(uint16_t &crc, int &writeError)
{
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return queue_.empty() && !busy_; });
    if (!current_.empty() && error_ == 0) {
        // The rest is written here: handing it over would only add a
        // round trip between the threads, most of all for small files.
        Buffer last = std::move(current_);
        current_ = Buffer();
        processUnlocked(lock, last);
        last.clear();
        free_.push_back(std::move(last));
    } else if (current_.capacity() != 0) {
        current_.clear();
        free_.push_back(std::move(current_));
        current_ = Buffer();
    }
    crc = crc_;
    writeError = error_;
}

void OutputPipe::abandon()
{
    std::unique_lock<std::mutex> lock(mutex_);
    drop_ = true;
    if (current_.capacity() != 0) {
        free_.push_back(std::move(current_));
        current_ = Buffer();
    }
    cv_.notify_all();
    cv_.wait(lock, [this] { return queue_.empty() && !busy_; });
    drop_ = false;
}

void OutputPipe::processUnlocked(std::unique_lock<std::mutex> &lock, const Buffer &buf)
{
    const int fd = fd_;
    uint16_t crc = crc_;
    lock.unlock();
    int err = 0;
    process(fd, buf, crc, err);
    lock.lock();
    crc_ = crc;
    if (err != 0)
        error_ = err;
}

void OutputPipe::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return quit_ || !queue_.empty(); });
        if (queue_.empty() && quit_)
            return;
        Buffer buf = std::move(queue_.front());
        queue_.pop_front();
        if (!drop_ && error_ == 0) {
            busy_ = true;
            processUnlocked(lock, buf);
            busy_ = false;
        }
        buf.clear();
        free_.push_back(std::move(buf));
        cv_.notify_all();
    }
}

} // namespace unlha
