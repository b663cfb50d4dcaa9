#include "unlha32/lzhextended.h"

#include "unlha32/lzhlayout.h"

#include <string>

namespace unlha {
namespace {

// A FILETIME counts 100-ns ticks since 1601-01-01 UTC: its whole seconds,
// less those from 1601 to 1970, are Unix time.
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSeconds1601To1970 = 11644473600;

void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kUnicodeFolderEnd = 0xFFFF;

} // namespace

std::string utf16ToUtf8(const uint8_t *d, size_t n, bool folders)
{
    std::string out;
    for (size_t i = 0; i + 1 < n; i += 2) {
        const uint32_t u = u16(d + i);
        if (u == 0)
            break;
        if (folders && u == kUnicodeFolderEnd) {
            out += '\xFF';
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n && u16(d + i + 2) >= 0xDC00 && u16(d + i + 2) <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (u16(d + i + 2) - 0xDC00));
            i += 2;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

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
    case kExtUnicodeName:
        e.unicodeName = utf16ToUtf8(d, n, false);
        e.hasUnicodeName = true;
        break;
    case kExtUnicodeDir:
        e.unicodeDir = utf16ToUtf8(d, n, true);
        e.hasUnicodeDir = true;
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
