#pragma once
// The one way decoded bytes of an entry reach its temporary file: the
// cancel check, the guard against more output than the header promised,
// the CRC, the progress and the start over from the first byte, whichever
// thread decodes and whichever output writes.
#include "unlha32/decoder.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace unlha {

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    uint64_t written = 0; // bytes delivered; originalSize + 1 when there were too many
    uint16_t crc = 0;
    int writeError = 0;   // errno of a failed write
    bool cancelled = false;
};

// Writes all of `len` bytes; 0, or errno of the failed write.
int writeAll(int fd, const uint8_t *data, std::size_t len);

// Where an entry's bytes go: checksummed and written in large blocks.
class FileOutput {
public:
    virtual ~FileOutput() = default;
    // Starts one file written to `fd`.
    virtual void begin(int fd) = 0;
    // Takes bytes; false once a write has failed.
    virtual bool push(const uint8_t *data, std::size_t len) = 0;
    // Writes what is left; the CRC of all bytes pushed, and errno of a
    // failed write (0 if none).
    virtual void end(uint16_t &crc, int &writeError) = 0;
    // Drops what was not written yet.
    virtual void abandon() = 0;
};

// Gathers output and writes it on the calling thread: few system calls and
// little memory, for the workers that each decode an entry of their own.
class DirectOutput final : public FileOutput {
public:
    DirectOutput();
    void begin(int fd) override;
    bool push(const uint8_t *data, std::size_t len) override;
    void end(uint16_t &crc, int &writeError) override;
    void abandon() override;

private:
    bool write(const uint8_t *data, std::size_t len);

    int fd_ = -1;
    uint16_t crc_ = 0;
    int error_ = 0;
    std::vector<uint8_t> buffer_;
};

// Decodes `entry` through `output` into `fd`. `stopped` is asked before
// every block; `progress` grows by the bytes decoded, and by exactly the
// entry's original size once it is finished (cancelled ones excepted),
// whatever became of it; `onBlock` runs after every block taken.
DecodeResult decodeEntry(EntryDecoder &decoder, const Entry &entry, int fd, FileOutput &output,
                         const std::function<bool()> &stopped, std::atomic<uint64_t> &progress,
                         const std::function<void()> &onBlock = {});

} // namespace unlha
