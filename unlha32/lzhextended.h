#pragma once
// The extended headers of levels 1 to 3: what each id that matters here
// adds to an entry.
#include "unlha32/lzhheader.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace unlha {

// The ids read. Others are skipped: comment (0x3F), MS-DOS attributes
// (0x40), Unix owner ids and names (0x51 to 0x53) and the like.
enum ExtId : uint8_t {
    kExtCommon = 0x00,       // CRC-16 of the header, then information we do not use
    kExtFileName = 0x01,     // the name, without folders
    kExtDirectory = 0x02,    // folders, each ended by 0xFF
    kExtWindowsTimes = 0x41, // creation, last write and last access as FILETIMEs
    kExtSizes64 = 0x42,      // packed and original size, 8 bytes each
    kExtUnicodeName = 0x44,  // the name in UTF-16LE, beside a 0x01 fallback
    kExtUnicodeDir = 0x45,   // folders in UTF-16LE, 0xFFFF after each, beside a 0x02 fallback
    kExtUnixMode = 0x50,     // st_mode, 2 bytes
    kExtUnixTime = 0x54,     // modification time, Unix seconds
};

// What the extended headers of one header say about the header itself.
struct ExtState {
    bool haveHeaderCrc = false;
    uint16_t headerCrc = 0;
    size_t headerCrcPos = 0; // position in the header buffer (levels 2, 3)
};

// One extended header: `type`, and its `n` bytes of data at `d`, which lie
// at `posInBuf` in the header buffer of levels 2 and 3.
void applyExt(Entry &e, ExtState &st, uint8_t type, const uint8_t *d, size_t n, size_t posInBuf);

// `n` bytes of UTF-16LE as UTF-8, up to a NUL character; with `folders`
// each U+FFFF becomes the folder separator 0xFF. A lone surrogate becomes
// U+FFFD.
std::string utf16ToUtf8(const uint8_t *d, size_t n, bool folders);

} // namespace unlha
