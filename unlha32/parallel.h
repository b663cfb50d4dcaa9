#pragma once
// Decodes entries on several threads at once. LHA compresses every entry on
// its own, so each worker decodes with its own decoder (and buffers) from the
// shared archive descriptor (pread only) into a temporary file prepared by
// the extraction; naming, questions, committing and the report stay on the
// extraction's own thread, in archive order.
#include "unlha32/decoder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace unlha {

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    uint64_t written = 0; // bytes delivered; originalSize + 1 when there were too many
    uint16_t crc = 0;
    int writeError = 0;   // errno of a failed write
    bool cancelled = false;
};

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
    // `progress` grows by the bytes decoded; every finished job has added
    // exactly its entry's original size, whatever became of it.
    DecodePool(Backend backend, int archiveFd, int workers, std::atomic<uint64_t> &progress);
    ~DecodePool();
    DecodePool(const DecodePool &) = delete;
    DecodePool &operator=(const DecodePool &) = delete;

    // `job` must stay in place until it is done.
    void submit(DecodeJob *job);
    // Jobs being decoded end as cancelled as soon as they notice; queued
    // ones end at once. Nothing is decoded afterwards.
    void stop();
    // Waits until `job` is done or `timeout` has passed.
    void waitFor(const DecodeJob &job, std::chrono::milliseconds timeout);

private:
    void work();
    void finish(DecodeJob *job);

    Backend backend_;
    int fd_;
    std::atomic<uint64_t> &progress_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::vector<DecodeJob *> queue_;
    bool quit_ = false;
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Decodes one entry into `out` on the calling thread (CRC and writes
// included); `stop` is polled between blocks.
DecodeResult decodeToFile(EntryDecoder &decoder, const Entry &e, int out, const std::atomic<bool> &stop,
                          std::atomic<uint64_t> &progress, std::vector<uint8_t> &buffer);

} // namespace unlha
