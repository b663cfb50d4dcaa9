// The first header: where a file begins, or behind a self-extractor's
// program; and the name in a first header that fails its checks.
#include "unlha32/lzhheader.h"

#include "unlha32/lzhextended.h"
#include "unlha32/lzhlayout.h"

#include <algorithm>
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
    return n >= kCommonLength && h[0] != 0 && isMethod(h + kMethod) && h[kLevel] <= 3;
}

// The name in a header that failed its checks, for the report; what cannot
// be read is left out.
std::string nameOfDamagedHeader(HeaderSource &src, uint64_t offset)
{
    uint8_t b[4096];
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof b, src.fileSize() - offset));
    if (n < kCommonLength || !src.read(offset, b, n))
        return {};
    if (b[kLevel] <= 1) {
        const size_t end = std::min<size_t>(n, static_cast<size_t>(b[kBaseLength]) + 2);
        const size_t nameLen = b[kNameLength];
        return kName + nameLen <= end ? cutAtNul(b + kName, nameLen) : std::string();
    }
    if (b[kLevel] != 2 || n < kLeast2)
        return {};
    // Level 2: the name and folder are extended headers of their own.
    std::string name, dir;
    size_t next = u16(b + kFirstExt2);
    size_t pos = kFirstExt2 + 2;
    while (next >= kExtFrame && pos + next <= n) {
        if (b[pos] == kExtFileName)
            name = cutAtNul(b + pos + 1, next - kExtFrame);
        else if (b[pos] == kExtDirectory)
            dir.assign(reinterpret_cast<const char *>(b + pos + 1), next - kExtFrame);
        const size_t np = pos + next - 2;
        next = u16(b + np);
        pos = np + 2;
    }
    if (!dir.empty() && dir.back() != '\xFF' && !name.empty())
        dir += '\xFF';
    return dir + name;
}

} // namespace

// A file that does not begin with a header may be a self-extractor: a
// program with the archive behind it.
HeaderStatus HeaderWalker::first(Entry &e)
{
    if (start_) {
        // An earlier walk found it; the file changed if it is not there now.
        const HeaderStatus st = readHeader(src_, *start_, e);
        return st == HeaderStatus::End ? HeaderStatus::Invalid : st;
    }
    const HeaderStatus st = readHeader(src_, 0, e);
    if (st == HeaderStatus::Ok || st == HeaderStatus::Truncated)
        return st;
    uint8_t h[kLeadIn] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof h, src_.fileSize()));
    if (src_.read(0, h, n) && looksLikeHeader(h, n)) {
        badEntryRawName_ = nameOfDamagedHeader(src_, 0);
        return HeaderStatus::Invalid;
    }
    return searchStub(e);
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
            headerLen = static_cast<uint64_t>(p[kBaseLength]) + 2;
            if (headerLen < kLeastBase || i + headerLen > n)
                continue;
            uint8_t sum = 0;
            for (size_t k = kBaseSum + 1; k < headerLen; ++k)
                sum = static_cast<uint8_t>(sum + p[k]);
            if (sum != p[kBaseSum])
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
            return HeaderStatus::Ok;
    }
    return HeaderStatus::End;
}

} // namespace unlha
