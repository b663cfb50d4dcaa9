#pragma once
// Decodes entries on several threads at once. LHA compresses every entry on
// its own, so each worker decodes with its own decoder (and buffers) from the
// shared archive descriptor (pread only) into a temporary file prepared by
// the extraction; naming, questions, committing and the report stay on the
// extraction's own thread, in archive order.
#include "unlha32/entrysink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace unlha {

struct DecodeJob {
    const Entry *entry = nullptr;
    int out = -1;         // empty file the data is written to
    DecodeResult result;  // valid once `done`
    std::atomic<bool> done{false};
};

// How many workers to use: UNLHA32_THREADS (1 to 64) when set, read once per
// process, otherwise one per core.
int defaultWorkerCount();

class DecodePool {
public:
    // Starts up to `workers` threads, as many as the system gives.
    // `progress` grows by the bytes decoded; every finished job has added
    // exactly its entry's original size, whatever became of it.
    DecodePool(int archiveFd, int workers, std::atomic<uint64_t> &progress);
    ~DecodePool();
    DecodePool(const DecodePool &) = delete;
    DecodePool &operator=(const DecodePool &) = delete;

    // The workers that started; with none, the caller decodes on its own.
    int workers() const { return static_cast<int>(workers_.size()); }

    // `job` must stay in place until it is done.
    void submit(DecodeJob *job);
    // Jobs being decoded end as cancelled as soon as they notice; queued
    // ones end at once. Nothing is decoded afterwards.
    void stop();
    // Waits until `job` is done or `timeout` has passed.
    void waitFor(const DecodeJob &job, std::chrono::milliseconds timeout);

private:
    // A worker's own decoder and output, made before its thread starts.
    struct Worker {
        std::unique_ptr<EntryDecoder> decoder;
        DirectOutput output;
        std::thread thread;
    };

    void work(Worker &w);
    void finish(DecodeJob *job);

    int fd_;
    std::atomic<uint64_t> &progress_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::vector<DecodeJob *> queue_;
    bool quit_ = false;
    std::atomic<bool> stop_{false};
    std::vector<std::unique_ptr<Worker>> workers_;
};

} // namespace unlha
