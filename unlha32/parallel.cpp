#include "unlha32/parallel.h"

#include "unlha32/crc16.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace unlha {
namespace {

// Output is gathered to this size before it is written: few system calls,
// and little memory per worker.
constexpr std::size_t kWriteChunk = 256 * 1024;

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

} // namespace

int defaultWorkerCount()
{
    static const int count = [] {
        if (const char *env = std::getenv("UNLHA32_THREADS")) {
            char *end = nullptr;
            const long n = std::strtol(env, &end, 10);
            if (end != env && *end == '\0' && n >= 1 && n <= 64)
                return static_cast<int>(n);
        }
        const unsigned hw = std::thread::hardware_concurrency();
        return hw == 0 ? 1 : static_cast<int>(hw < 64 ? hw : 64);
    }();
    return count;
}

DecodeResult decodeToFile(EntryDecoder &decoder, const Entry &e, int out, const std::atomic<bool> &stop,
                          std::atomic<uint64_t> &progress, std::vector<uint8_t> &buffer)
{
    DecodeResult r;
    uint64_t counted = 0; // what this entry has added to `progress`
    buffer.clear();
    auto flush = [&] {
        if (r.writeError == 0 && !buffer.empty())
            r.writeError = writeAll(out, buffer.data(), buffer.size());
        buffer.clear();
        return r.writeError == 0;
    };
    const Sink sink = [&](const uint8_t *data, std::size_t len) {
        if (stop.load(std::memory_order_relaxed)) {
            r.cancelled = true;
            return false;
        }
        // More output than the header promised is damage, and must not fill the disk.
        if (len > e.originalSize - r.written) {
            r.written = e.originalSize + 1;
            return false;
        }
        r.crc = crc16Update(r.crc, data, len);
        r.written += len;
        progress.fetch_add(len, std::memory_order_relaxed);
        counted += len;
        if (buffer.size() + len > kWriteChunk && !flush())
            return false;
        if (len >= kWriteChunk) {
            r.writeError = writeAll(out, data, len);
            return r.writeError == 0;
        }
        buffer.insert(buffer.end(), data, data + len);
        return true;
    };
    const Restart restart = [&] {
        buffer.clear();
        if (::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0)
            return false;
        progress.fetch_sub(counted, std::memory_order_relaxed);
        counted = 0;
        r = DecodeResult();
        return true;
    };
    r.status = decoder.decode(e, sink, restart);
    if (!r.cancelled)
        flush();
    // Damaged or not, a finished entry counts with all its bytes.
    if (r.cancelled)
        return r;
    if (counted < e.originalSize)
        progress.fetch_add(e.originalSize - counted, std::memory_order_relaxed);
    else
        progress.fetch_sub(counted - e.originalSize, std::memory_order_relaxed);
    return r;
}

DecodePool::DecodePool(Backend backend, int archiveFd, int workers, std::atomic<uint64_t> &progress)
    : backend_(backend), fd_(archiveFd), progress_(progress)
{
    for (int i = 0; i < workers; ++i)
        threads_.emplace_back([this] { work(); });
}

DecodePool::~DecodePool()
{
    stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    work_.notify_all();
    for (auto &t : threads_)
        t.join();
}

void DecodePool::finish(DecodeJob *job)
{
    job->done.store(true, std::memory_order_release);
}

void DecodePool::submit(DecodeJob *job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_.load()) {
            job->result.cancelled = true;
            finish(job);
            return;
        }
        queue_.push_back(job);
    }
    work_.notify_one();
}

void DecodePool::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
        for (DecodeJob *job : queue_) {
            job->result.cancelled = true;
            finish(job);
        }
        queue_.clear();
    }
    done_.notify_all();
}

void DecodePool::waitFor(const DecodeJob &job, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait_for(lock, timeout, [&] { return job.done.load(std::memory_order_acquire); });
}

void DecodePool::work()
{
    const auto decoder = makeDecoder(backend_, fd_);
    std::vector<uint8_t> buffer;
    buffer.reserve(kWriteChunk);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return quit_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        // Largest first: a big entry started last would leave the other
        // workers idle at the end.
        auto pick = queue_.begin();
        for (auto it = queue_.begin(); it != queue_.end(); ++it)
            if ((*it)->entry->originalSize > (*pick)->entry->originalSize)
                pick = it;
        DecodeJob *job = *pick;
        queue_.erase(pick);
        lock.unlock();
        job->result = decodeToFile(*decoder, *job->entry, job->out, stop_, progress_, buffer);
        lock.lock();
        finish(job);
        done_.notify_all();
    }
}

} // namespace unlha
