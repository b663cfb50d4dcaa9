#include "unlha32/macbinary.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace unlha {
namespace {

uint32_t be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Byte positions in a MacBinary header.
constexpr std::size_t kNameLength = 0x01, kName = 0x02, kNameEnd = 0x41;
constexpr std::size_t kZero1 = 0x00, kZero2 = 0x4A, kZero3 = 0x52;
constexpr std::size_t kDataLength = 0x53, kResourceLength = 0x57, kModified = 0x5F;
constexpr std::size_t kTailZeros = 0x63;
// Seconds from 1904 (the Mac's epoch) to 1970.
constexpr int64_t kMacEpoch = 2082844800;
// The header's time is the maker's local time, the entry's may be UTC.
constexpr int64_t kTimeSlack = 14 * 3600;

// The entry's own name: the last component of its stored path.
std::string ownName(const Entry &e)
{
    const auto cut = e.rawName.find_last_of("\\/\xFF");
    return cut == std::string::npos ? e.rawName : e.rawName.substr(cut + 1);
}

} // namespace

std::optional<uint64_t> macLhaDataFork(const uint8_t *h, const Entry &e)
{
    if (h[kZero1] != 0 || h[kZero2] != 0 || h[kZero3] != 0)
        return std::nullopt;
    for (std::size_t i = kTailZeros; i < kMacBinaryHeader; ++i)
        if (h[i] != 0)
            return std::nullopt;
    const std::size_t nameLength = h[kNameLength];
    if (nameLength == 0 || kName + nameLength > kNameEnd)
        return std::nullopt;
    for (std::size_t i = kName + nameLength; i < kNameEnd; ++i)
        if (h[i] != 0)
            return std::nullopt;
    if (std::string(reinterpret_cast<const char *>(h + kName), nameLength) != ownName(e))
        return std::nullopt;
    const uint64_t data = be32(h + kDataLength);
    const uint64_t resource = be32(h + kResourceLength);
    const uint64_t whole = kMacBinaryHeader + data + resource;
    if ((whole + kMacBinaryHeader - 1) / kMacBinaryHeader * kMacBinaryHeader != e.originalSize)
        return std::nullopt;
    const int64_t modified = int64_t(be32(h + kModified)) - kMacEpoch;
    if (!e.hasMtime || modified - e.mtime > kTimeSlack || e.mtime - modified > kTimeSlack)
        return std::nullopt;
    return data;
}

bool keepDataFork(int fd, uint64_t dataLength)
{
    std::vector<uint8_t> buf(64 * 1024);
    uint64_t done = 0;
    while (done < dataLength) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(buf.size(), dataLength - done));
        const ssize_t r = ::pread(fd, buf.data(), want, static_cast<off_t>(kMacBinaryHeader + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            if (r == 0)
                errno = EIO;
            return false;
        }
        std::size_t written = 0;
        while (written < static_cast<std::size_t>(r)) {
            const ssize_t w = ::pwrite(fd, buf.data() + written, static_cast<std::size_t>(r) - written,
                                       static_cast<off_t>(done + written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            written += static_cast<std::size_t>(w);
        }
        done += static_cast<uint64_t>(r);
    }
    return ::ftruncate(fd, static_cast<off_t>(dataLength)) == 0;
}

} // namespace unlha
