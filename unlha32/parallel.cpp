#include "unlha32/parallel.h"

#include <cstdlib>

namespace unlha {

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

DecodePool::DecodePool(int archiveFd, int workers, std::atomic<uint64_t> &progress)
    : fd_(archiveFd), progress_(progress)
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
    const auto decoder = makeDecoder(fd_);
    DirectOutput output;
    const auto stopped = [this] { return stop_.load(std::memory_order_relaxed); };
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
        job->result = decodeEntry(*decoder, *job->entry, job->out, output, stopped, progress_);
        lock.lock();
        finish(job);
        done_.notify_all();
    }
}

} // namespace unlha
