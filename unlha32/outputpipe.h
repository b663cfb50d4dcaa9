#pragma once
// Checksums and writes decoded data on a second thread, so that decoding
// never waits for the CRC or the disk; on the decoding thread itself when
// the system gives no second one.
#include "unlha32/entrysink.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace unlha {

class OutputPipe final : public FileOutput {
public:
    OutputPipe();
    ~OutputPipe() override;
    OutputPipe(const OutputPipe &) = delete;
    OutputPipe &operator=(const OutputPipe &) = delete;

    void begin(int fd) override;
    // Queues bytes (copied); false once a write has failed.
    bool push(const uint8_t *data, std::size_t len) override;
    // Waits until everything is written.
    void end(uint16_t &crc, int &writeError) override;
    // Drops what is queued and waits until the writer is idle.
    void abandon() override;

private:
    using Buffer = std::vector<uint8_t>;
    void run();
    static void process(int fd, const Buffer &buf, uint16_t &crc, int &err);
    // process() with the lock released, its CRC and error folded into ours.
    void processUnlocked(std::unique_lock<std::mutex> &lock, const Buffer &buf);
    void submitCurrent(std::unique_lock<std::mutex> &lock);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Buffer> queue_;   // full buffers, in order
    std::vector<Buffer> free_;   // empty buffers to fill
    Buffer current_;             // being filled by the decoding thread
    bool busy_ = false;          // the writer holds a buffer
    bool quit_ = false;
    bool drop_ = false;
    int fd_ = -1;
    uint16_t crc_ = 0;
    int error_ = 0;
    std::thread thread_;         // empty when it could not start
};

} // namespace unlha
