#pragma once
// Where the header reader finds each field: the layout of every header
// level. Offsets from the start of the header, sizes in bytes, numbers
// little-endian.
//
// Level 0
//   off  size
//     0   1   length of the header less these two bytes
//     1   1   sum of the bytes after these two
//     2   5   method: "-lh5-" and the like
//     7   4   packed size
//    11   4   original size
//    15   4   time, MS-DOS format, local
//    19   1   MS-DOS attributes
//    20   1   level: 0
//    21   1   name length, n
//    22   n   name
//  22+n   2   CRC-16 of the original data
//  24+n       to the end of the header, if anything: OS id; after 'U' a
//             version byte, Unix time (4), mode (2), uid (2), gid (2)
//
// Level 1: a base header, then extended headers, which the packed size
// counts
//     0 ..    as level 0 up to the data CRC; 0x20 at 19, and the sum
//             covers the base header only
//  24+n   1   OS id
//  25+n   2   length of the first extended header, 0: none
//
// Level 2
//     0   2   length of the whole header, extended headers included
//     2   5   method
//     7   4   packed size
//    11   4   original size
//    15   4   time, Unix seconds
//    19   1   0x20
//    20   1   level: 2
//    21   2   CRC-16 of the original data
//    23   1   OS id
//    24   2   length of the first extended header, 0: none
//    26       extended headers
//
// Level 3: level 2 with wider lengths
//     0   2   width of its length fields: 4
//     2  22   as level 2
//    24   4   length of the whole header
//    28   4   length of the first extended header, 0: none
//    32       extended headers
//
// Extended header, levels 1 to 3
//     0   1   id
//     1   m   data
//   1+m   2   length of the next extended header, 0: none (4 bytes at
//             level 3). A length counts the whole extended header.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace unlha {

// Every level
constexpr size_t kMethod = 2;
constexpr size_t kMethodLength = 5;
constexpr size_t kPackedSize = 7;
constexpr size_t kOriginalSize = 11;
constexpr size_t kTime = 15;
constexpr size_t kLevel = 20;
constexpr uint8_t kHighestLevel = 3;
// Every header is longer: bytes 0 to 21, method and level among them.
constexpr size_t kCommonLength = 22;
// Read first: every field up to the first extended header's length of
// level 3, so that each level's length is at hand.
constexpr size_t kLeadIn = 32;

// Extended headers: the width of their length fields at levels 1 and 2
// (kLevel3Width at level 3), and an id with the length after the data.
constexpr size_t kLengthWidth = 2;
constexpr size_t kExtId = 1;
constexpr size_t kExtFrame = kExtId + kLengthWidth;
// The header CRC in extended header 0x00.
constexpr size_t kHeaderCrcLength = 2;

// Levels 0 and 1
constexpr size_t kBaseLength = 0;    // less these two bytes
constexpr size_t kBaseSum = 1;       // of the bytes after these two
constexpr size_t kBaseUncounted = 2; // the two bytes the length leaves out
constexpr size_t kLargestBase = UINT8_MAX + kBaseUncounted;
constexpr size_t kNameLength = 21;
constexpr size_t kName = 22;
constexpr size_t kDataCrcLength = 2;
constexpr size_t kLeastBase = kName + kDataCrcLength; // an empty name
// Level 1 after the data CRC: OS id and the first extended header's length.
constexpr size_t kLevel1Tail = 3;
// Level 0's Unix extension, from the OS id on.
constexpr size_t kUnixExtTime = 2;
constexpr size_t kUnixExtMode = 6;
constexpr size_t kUnixExtLength = 12;

// Levels 2 and 3
constexpr size_t kDataCrc = 21;
constexpr size_t kOsId = 23;
constexpr size_t kLength2 = 0;             // of the whole header
constexpr size_t kFirstExt2 = 24;          // the first extended header's length
constexpr size_t kLeast2 = kFirstExt2 + kLengthWidth; // no extended headers
constexpr size_t kFieldWidth3 = 0;         // holds kLevel3Width
constexpr uint16_t kLevel3Width = 4;
constexpr size_t kLength3 = 24;
constexpr size_t kFirstExt3 = 28;
constexpr size_t kLeast3 = kFirstExt3 + kLevel3Width;
// LHa for UNIX pads a level-2 header whose length would end in a zero byte
// (which reads as the end of the archive) with one byte past its extended
// headers.
constexpr size_t kLevel2Pad = 1;
// OS-9 LHa counts a level-2 header without its own length field.
constexpr size_t kOs9Shortfall = 2;

inline uint16_t u16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t u32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t u64(const uint8_t *p) { return u32(p) | (static_cast<uint64_t>(u32(p + 4)) << 32); }

// "-lh5-", "-pm0-" and the like: lower-case letters and digits between dashes.
inline bool isMethod(const uint8_t *m)
{
    if (m[0] != '-' || m[kMethodLength - 1] != '-')
        return false;
    for (size_t i = 1; i + 1 < kMethodLength; ++i) {
        const uint8_t c = m[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// A method and a known level where a header has them, its length not looked
// at: the start of a header, however damaged its length is. `n` bytes at h.
inline bool methodAndLevel(const uint8_t *h, size_t n)
{
    return n >= kCommonLength && isMethod(h + kMethod) && h[kLevel] <= kHighestLevel;
}

// Name fields of some archivers carry a comment after a NUL byte.
inline std::string cutAtNul(const uint8_t *p, size_t n)
{
    const void *z = std::memchr(p, 0, n);
    return std::string(reinterpret_cast<const char *>(p), z ? static_cast<const uint8_t *>(z) - p : n);
}

} // namespace unlha
