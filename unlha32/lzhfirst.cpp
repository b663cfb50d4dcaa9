// The first header: where a file begins, behind a self-extractor's program
// or a MacBinary header; and what can be read of a first header that fails
// its checks.
//
// Which files are searched. A file that begins with a sound header is an
// archive. One whose start still shows most of a header's marks (the
// method's dashes and letters, a level of 0 to 3) is an archive whose first
// header is damaged: it is reported as such, never searched, since the
// first header found further in may lie inside the first entry's own data.
// Only a file that begins as a program of a system whose archivers wrote
// self-extractors, or names itself a self-extractor near its start, is
// searched for the archive behind it; any other file is no archive.
// Behind a program, the search passes over a damaged first header as it
// passes over the program's look-alikes; a header found further in that
// such a look-alike leads to exactly (as its next entry, or as its own
// data) is the rest of a damaged archive, not the archive.
#include "unlha32/lzhheader.h"

#include "unlha32/lzhlayout.h"
#include "unlha32/macbinary.h"

#include <algorithm>
#include <initializer_list>
#include <string>

namespace unlha {
namespace {

// Self-extracting archives carry a program in front of the first header.
constexpr size_t kSfxSearch = 1 << 20;
// Bytes the search may read to check look-alike headers, as a multiple of
// the bytes searched: a file made of nothing but plausible headers, each
// claiming a large size, must not take seconds to turn down.
constexpr uint64_t kSfxCheckFactor = 16;
// How many places the search looks at between two questions whether the
// user cancelled.
constexpr size_t kSfxCancelStride = 4096;
// A level-3 header as large as a level 2 can be is plenty for the entries
// of a self-extractor.
constexpr uint64_t kSfxLargestLevel3 = 0xFFFF;

// The start of a header: a method such as "-lh5-" and a known level. A file
// that begins so is an archive, whatever the rest of the header says.
bool looksLikeHeader(const uint8_t *h, size_t n)
{
    return methodAndLevel(h, n) && h[0] != 0;
}

bool isLetterOrDigit(uint8_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// A damaged first header: of the six marks every header's start has, the
// method's two dashes, its three lower-case letters or digits and a level
// of 0 to 3, one changed byte leaves five, and two leave four. Text has no
// level byte of 0 to 3: four marks without the level count only with both
// dashes, so that a text file beginning "Co-oper" is not taken for an
// archive. The programs searched below have none of these marks there.
bool nearlyHeader(const uint8_t *h, size_t n)
{
    const uint8_t *m = h + kMethod;
    const size_t inMethod = n > kMethod ? std::min(n - kMethod, kMethodLength) : 0;
    int marks = 0;
    int dashes = 0;
    for (size_t i = 0; i < inMethod; ++i) {
        const bool dashPlace = i == 0 || i + 1 == kMethodLength;
        const bool mark = dashPlace ? m[i] == '-' : isLetterOrDigit(m[i]);
        marks += mark;
        dashes += dashPlace && mark;
    }
    const bool level = n > kLevel && h[kLevel] <= kHighestLevel;
    return marks + level >= 5 || (marks + level == 4 && (level || dashes == 2));
}

bool startsWith(const uint8_t *h, size_t n, std::initializer_list<uint8_t> magic)
{
    return n >= magic.size() && std::equal(magic.begin(), magic.end(), h);
}

// The programs that carry self-extracting archives: MS-DOS and Windows
// (MZ, rarely ZM), ELF, an Amiga hunk file, an X68000 .X file (HU), an
// Atari ST program (a branch over its header), and the .COM files of
// MS-DOS and CP/M, which have no header and begin with a jump over the
// archiver's banner (x86: E9 near, EB short; 8080 and Z80: C3).
bool beginsAsProgram(const uint8_t *h, size_t n)
{
    return startsWith(h, n, {'M', 'Z'}) || startsWith(h, n, {'Z', 'M'}) || startsWith(h, n, {0x7F, 'E', 'L', 'F'})
           || startsWith(h, n, {0x00, 0x00, 0x03, 0xF3}) || startsWith(h, n, {'H', 'U'})
           || startsWith(h, n, {0x60, 0x1A}) || startsWith(h, n, {0xE9}) || startsWith(h, n, {0xEB})
           || startsWith(h, n, {0xC3});
}

// A program of another start that says what it is: self-extractors show
// their archiver's banner ("LHarc's SFX", "LHA's SFX") near their start,
// where a .COM stub may begin with any instruction.
bool announcesSelfExtractor(HeaderSource &src)
{
    constexpr size_t kBannerWithin = 1024;
    uint8_t b[kBannerWithin];
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof b, src.fileSize()));
    if (!src.read(0, b, n))
        return false;
    const auto upper = [](uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 'A') : c; };
    for (size_t i = 0; i + 3 <= n; ++i)
        if (upper(b[i]) == 'S' && upper(b[i + 1]) == 'F' && upper(b[i + 2]) == 'X')
            return true;
    return false;
}

// A MacBinary header: a zero byte, the Mac file's name length (1 to 63),
// and zero bytes at 74 and 82; the data fork follows it.
bool wrappedInMacBinary(HeaderSource &src)
{
    constexpr size_t kNameLengthAt = 1, kLongestName = 63, kZeroAt1 = 74, kZeroAt2 = 82;
    uint8_t m[kMacBinaryHeader];
    if (src.fileSize() <= kMacBinaryHeader || !src.read(0, m, sizeof m))
        return false;
    return m[0] == 0 && m[kNameLengthAt] >= 1 && m[kNameLengthAt] <= kLongestName && m[kZeroAt1] == 0
           && m[kZeroAt2] == 0;
}

// The level a damaged first header was written at. Where nothing but its
// level byte was hit, it passes its checks at the level it was written at;
// otherwise its level byte says, unless that is out of range too. Then a
// level-3 header still has its field width, and a level-0 or level-1
// header a name that ends within its length (at level 1 just before its OS
// id and the first extended header's length).
int likelyLevel(HeaderSource &src, uint64_t offset, const uint8_t *h, size_t n)
{
    for (int level = 0; level <= kHighestLevel; ++level)
        if (soundAsLevel(src, offset, level))
            return level;
    if (n > kLevel && h[kLevel] <= kHighestLevel)
        return h[kLevel];
    if (u16(h + kFieldWidth3) == kLevel3Width)
        return 3;
    const size_t hlen = static_cast<size_t>(h[kBaseLength]) + kBaseUncounted;
    const size_t named = kName + h[kNameLength] + kDataCrcLength;
    if (hlen == named + kLevel1Tail)
        return 1;
    return hlen >= named ? 0 : 2;
}

// The name in a first header that failed its checks, for the report; what
// cannot be read is left out. `h`: its first n bytes, up to kLeadIn.
std::string nameOfDamagedHeader(HeaderSource &src, uint64_t offset, const uint8_t *h, size_t n)
{
    Entry e;
    return salvageHeader(src, offset, likelyLevel(src, offset, h, n), e) ? rawPath(e) : std::string();
}

// Whether the damaged header at `s` (its bytes `p`, `avail` of them in
// the search's buffer) puts a header at `j`: its next entry's, or the first
// of an archive that is its own data, as the length that each level reads
// says. Then the archive found at j is no archive behind a program but the
// rest of one whose first header is damaged. Exact, so that the names of
// methods in a program's own data, which look like headers, pass.
bool leadsTo(HeaderSource &src, const uint8_t *p, size_t avail, uint64_t s, uint64_t j, bool mayRead)
{
    if (avail < kLeast3)
        return false;
    const uint64_t packed = u32(p + kPackedSize);
    const uint64_t base = static_cast<uint64_t>(p[kBaseLength]) + kBaseUncounted;
    for (const uint64_t length : {base, uint64_t{u16(p + kLength2)}, uint64_t{u32(p + kLength3)}})
        if (s + length == j || s + length + packed == j)
            return true;
    // Level 1's data begins after its extended headers, which the packed
    // size counts.
    if (!mayRead || base < kLeastBase || j <= s + base || j > s + base + packed
        || s + base + packed > src.fileSize())
        return false;
    Entry e;
    return salvageHeader(src, s, 1, e) && e.dataOffset == j;
}

} // namespace

HeaderStatus HeaderWalker::first(Entry &e)
{
    if (start_) {
        // An earlier walk found it; the file changed if it is not there now.
        const HeaderStatus st = readHeader(src_, *start_, e);
        return st == HeaderStatus::End ? HeaderStatus::Invalid : st;
    }
    const HeaderStatus st = readHeader(src_, 0, e);
    if (st == HeaderStatus::Ok)
        return st;
    uint8_t h[kLeadIn] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof h, src_.fileSize()));
    if (!src_.read(0, h, n))
        return HeaderStatus::Truncated;
    if (st == HeaderStatus::Truncated || nearlyHeader(h, n)) {
        badEntryRawName_ = nameOfDamagedHeader(src_, 0, h, n);
        return st == HeaderStatus::Truncated ? st : HeaderStatus::Invalid;
    }
    if (wrappedInMacBinary(src_) && readHeader(src_, kMacBinaryHeader, e) == HeaderStatus::Ok)
        return HeaderStatus::Ok;
    return beginsAsProgram(h, n) || announcesSelfExtractor(src_) ? searchStub(e) : HeaderStatus::End;
}

// Looks for the first header within the first MiB. Cheap tests come first,
// and what the full checks may read is bounded, so that the time is linear
// in the bytes searched whatever the file holds.
HeaderStatus HeaderWalker::searchStub(Entry &e)
{
    const uint64_t fileSize = src_.fileSize();
    const size_t n = static_cast<size_t>(std::min<uint64_t>(fileSize, kSfxSearch));
    std::string buf(n, '\0');
    if (n == 0 || !readFull(src_.fd(), 0, buf.data(), n))
        return HeaderStatus::End;
    const auto *b = reinterpret_cast<const uint8_t *>(buf.data());
    const uint64_t budget = src_.asked() + kSfxCheckFactor * n;
    for (size_t i = 1; i + kCommonLength <= n; ++i) {
        if (i % kSfxCancelStride == 0 && cancelled_ && cancelled_()) {
            cancelledSearch_ = true;
            return HeaderStatus::End;
        }
        const uint8_t *p = b + i;
        if (p[kMethod] != '-' || p[kMethod + kMethodLength - 1] != '-' || !looksLikeHeader(p, n - i))
            continue;
        // What each level allows without reading further.
        uint64_t headerLen = 0;
        if (p[kLevel] <= 1) {
            headerLen = static_cast<uint64_t>(p[kBaseLength]) + kBaseUncounted;
            if (headerLen < kLeastBase || i + headerLen > n || !baseSumMatches(p, headerLen))
                continue;
        } else if (p[kLevel] == 2) {
            headerLen = u16(p + kLength2);
            if (headerLen < kLeast2)
                continue;
        } else {
            if (u16(p + kFieldWidth3) != kLevel3Width || i + kFirstExt3 > n)
                continue;
            headerLen = u32(p + kLength3);
            if (headerLen < kLeast3 || headerLen > kSfxLargestLevel3)
                continue;
        }
        // The header and the data it claims must lie within the file.
        if (i + headerLen + u32(p + kPackedSize) > fileSize)
            continue;
        // Past the budget only level-0 headers, whose checks stay within
        // the bytes already tested, are still tried.
        if (p[kLevel] != 0 && src_.asked() > budget)
            continue;
        if (readHeader(src_, i, e) == HeaderStatus::Ok && e.dataOffset + e.packedSize <= fileSize)
            return damagedBefore(b, n, i, budget) ? HeaderStatus::Invalid : HeaderStatus::Ok;
    }
    return HeaderStatus::End;
}

// Whether a damaged header in front of the one found at `j` leads to it: the
// archive's own first header, damaged, which the search passed over. Names
// it for the report.
bool HeaderWalker::damagedBefore(const uint8_t *b, size_t n, size_t j, uint64_t budget)
{
    for (size_t s = 1; s < j; ++s) {
        const size_t avail = std::min(n - s, kLeadIn);
        if (nearlyHeader(b + s, avail) && leadsTo(src_, b + s, n - s, s, j, src_.asked() <= budget)) {
            badEntryRawName_ = nameOfDamagedHeader(src_, s, b + s, avail);
            return true;
        }
    }
    return false;
}

} // namespace unlha
