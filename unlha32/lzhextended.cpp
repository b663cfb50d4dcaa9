#include "unlha32/lzhextended.h"

#include "unlha32/lzhlayout.h"

#include <string>

namespace unlha {
namespace {

// A FILETIME counts 100-ns ticks since 1601-01-01 UTC: its whole seconds,
// less those from 1601 to 1970, are Unix time.
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSeconds1601To1970 = 11644473600;

} // namespace

void applyExt(Entry &e, ExtState &st, uint8_t type, const uint8_t *d, size_t n, size_t posInBuf)
{
    switch (type) {
    case kExtCommon:
        if (n >= 2) {
            st.haveHeaderCrc = true;
            st.headerCrc = u16(d);
            st.headerCrcPos = posInBuf;
        }
        break;
    case kExtFileName:
        e.rawName = cutAtNul(d, n);
        break;
    case kExtDirectory:
        e.rawDir.assign(reinterpret_cast<const char *>(d), n);
        break;
    case kExtWindowsTimes:
        if (n >= 16) {
            const uint64_t lastWrite = u64(d + 8);
            if (lastWrite != 0) {
                e.mtime = static_cast<int64_t>(lastWrite / kTicksPerSecond) - kSeconds1601To1970;
                e.hasMtime = true;
            }
        }
        break;
    case kExtSizes64:
        if (n >= 16) {
            e.packedSize = u64(d);
            e.originalSize = u64(d + 8);
        }
        break;
    case kExtUnixMode:
        if (n >= 2) {
            e.unixMode = u16(d);
            e.hasUnixMode = true;
        }
        break;
    case kExtUnixTime:
        if (n >= 4) {
            e.mtime = static_cast<int32_t>(u32(d));
            e.hasMtime = true;
        }
        break;
    default:
        break;
    }
}

} // namespace unlha
