#include "unlha32/parallel.h"

#include "unlha32/threads.h"

#include <cerrno>
#include <cstdlib>
#include <new>

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
    // Room first: a started thread must never be left without an owner.
    workers_.reserve(static_cast<std::size_t>(workers > 0 ? workers : 0));
    for (int i = 0; i < workers; ++i) {
        // The worker's memory is taken here, where running out of it only
        // means fewer workers, not on its thread, which could only fail.
        std::unique_ptr<Worker> w;
        try {
            w = std::make_unique<Worker>();
            w->decoder = makeDecoder(fd_);
        } catch (const std::bad_alloc &) {
            break;
        }
        // Nor does a thread the system cannot give end anything: the
        // workers started do the work, however few.
        if (!startThread(w->thread, [this, worker = w.get()] { work(*worker); }))
            break;
        workers_.push_back(std::move(w));
    }
}

DecodePool::~DecodePool()
{
    stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    work_.notify_all();
    for (auto &w : workers_)
        w->thread.join();
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

void DecodePool::work(Worker &w)
{
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
        // Nothing thrown may end the thread (std::terminate would end the
        // caller's process): a job that ran out of memory fails as a write
        // that ran out of it would, and ends the run.
        try {
            job->result = decodeEntry(*w.decoder, *job->entry, job->out, w.output, stopped, progress_);
        } catch (const std::bad_alloc &) {
            w.output.abandon();
            job->result = DecodeResult();
            job->result.writeError = ENOMEM;
        } catch (...) {
            // A decoder that gives up by throwing has turned the data down.
            w.output.abandon();
            job->result = DecodeResult();
            job->result.status = DecodeStatus::Damaged;
        }
        lock.lock();
        finish(job);
        done_.notify_all();
    }
}

} // namespace unlha
