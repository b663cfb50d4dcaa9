#include "unlha32/lzhheader.h"

#include "unlha32/crc16.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace unlha {
namespace {

// No sane header is larger; anything bigger is garbage and must not make us
// allocate what a hostile length field asks for.
constexpr uint64_t kMaxHeader = 1 << 20;
// The walk's buffer; a smaller archive gets one of its own size.
constexpr size_t kWalkBuffer = 64 * 1024;
// Self-extracting archives carry a program in front of the first header.
constexpr size_t kSfxSearch = 1 << 20;
// Bytes the search may read to check look-alike headers, as a multiple of
// the bytes searched: a file made of nothing but plausible headers, each
// claiming a large size, must not take seconds to turn down.
constexpr uint64_t kSfxCheckFactor = 16;
// How many places the search looks at between two questions whether the
// user cancelled.
constexpr size_t kSfxCancelStride = 4096;

uint16_t u16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint64_t u64(const uint8_t *p) { return u32(p) | (static_cast<uint64_t>(u32(p + 4)) << 32); }

bool isMethod(const uint8_t *m)
{
    if (m[0] != '-' || m[4] != '-')
        return false;
    for (int i = 1; i < 4; ++i) {
        const uint8_t c = m[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

int64_t dosTimeToUnix(uint32_t v)
{
    std::tm tm{};
    tm.tm_sec = static_cast<int>((v & 0x1F) * 2);
    tm.tm_min = static_cast<int>((v >> 5) & 0x3F);
    tm.tm_hour = static_cast<int>((v >> 11) & 0x1F);
    tm.tm_mday = static_cast<int>((v >> 16) & 0x1F);
    tm.tm_mon = static_cast<int>(((v >> 21) & 0x0F)) - 1;
    tm.tm_year = static_cast<int>(((v >> 25) & 0x7F)) + 80;
    tm.tm_isdst = -1;
    if (tm.tm_mday == 0 || tm.tm_mon < 0)
        return 0;
    // MS-DOS times are local times.
    return static_cast<int64_t>(std::mktime(&tm));
}

// Name fields of some archivers carry a comment after a NUL byte.
std::string cutAtNul(const uint8_t *p, size_t n)
{
    const void *z = std::memchr(p, 0, n);
    return std::string(reinterpret_cast<const char *>(p), z ? static_cast<const uint8_t *>(z) - p : n);
}

struct ExtState {
    bool haveHeaderCrc = false;
    uint16_t headerCrc = 0;
    size_t headerCrcPos = 0; // position in the header buffer (levels 2, 3)
};

void applyExt(Entry &e, ExtState &st, uint8_t type, const uint8_t *d, size_t n, size_t posInBuf)
{
    switch (type) {
    case 0x00:
        if (n >= 2) {
            st.haveHeaderCrc = true;
            st.headerCrc = u16(d);
            st.headerCrcPos = posInBuf;
        }
        break;
    case 0x01:
        e.rawName = cutAtNul(d, n);
        break;
    case 0x02:
        e.rawDir.assign(reinterpret_cast<const char *>(d), n);
        break;
    case 0x41:
        if (n >= 16) {
            const uint64_t ft = u64(d + 8);
            if (ft != 0) {
                e.mtime = static_cast<int64_t>(ft / 10000000ULL) - 11644473600LL;
                e.hasMtime = true;
            }
        }
        break;
    case 0x42:
        if (n >= 16) {
            e.packedSize = u64(d);
            e.originalSize = u64(d + 8);
        }
        break;
    case 0x50:
        if (n >= 2) {
            e.unixMode = u16(d);
            e.hasUnixMode = true;
        }
        break;
    case 0x54:
        if (n >= 4) {
            e.mtime = static_cast<int32_t>(u32(d));
            e.hasMtime = true;
        }
        break;
    default:
        break;
    }
}

// Directory entries and symbolic links share the "-lhd-" method; a link is
// stored as "name|target".
void classify(Entry &e)
{
    const bool lhd = std::memcmp(e.method, "-lhd-", 5) == 0;
    if (!lhd) {
        // Amiga LhA stores an empty folder as a nameless stored entry.
        const bool nameless = e.rawName.empty() && !e.rawDir.empty() && e.originalSize == 0;
        e.kind = nameless ? EntryKind::Directory : EntryKind::File;
        return;
    }
    // Unix archivers split "dir/link|target/path" at its last '/', so the
    // '|' may sit in the directory part: look at the whole path.
    std::string full = e.rawDir;
    if (!full.empty() && full.back() != '\xFF' && !e.rawName.empty())
        full += '\xFF';
    full += e.rawName;
    const bool modeSaysLink = e.hasUnixMode && (e.unixMode & S_IFMT) == S_IFLNK;
    const auto bar = full.find('|');
    if (bar != std::string::npos && (modeSaysLink || !e.hasUnixMode)) {
        e.kind = EntryKind::Symlink;
        e.linkTarget = full.substr(bar + 1);
        for (auto &c : e.linkTarget)
            if (c == '\xFF')
                c = '/';
        e.rawDir.clear();
        e.rawName = full.substr(0, bar);
    } else {
        e.kind = EntryKind::Directory;
    }
}

HeaderStatus readLevel01(HeaderSource &src, uint64_t offset, const uint8_t *h, Entry &e)
{
    const uint64_t fileSize = src.fileSize();
    const size_t hlen = static_cast<size_t>(h[0]) + 2;
    const int level = h[20];
    if (hlen < 24)
        return HeaderStatus::Invalid;
    if (offset + hlen > fileSize)
        return HeaderStatus::Truncated;
    uint8_t b[260];
    if (!src.read(offset, b, hlen))
        return HeaderStatus::Truncated;
    uint8_t sum = 0;
    for (size_t i = 2; i < hlen; ++i)
        sum = static_cast<uint8_t>(sum + b[i]);
    if (sum != b[1])
        return HeaderStatus::Invalid;
    const size_t nameLen = b[21];
    const size_t fixedEnd = 22 + nameLen + 2; // name and data CRC
    if (fixedEnd > hlen || (level == 1 && fixedEnd + 3 > hlen))
        return HeaderStatus::Invalid;

    e.packedSize = u32(b + 7);
    e.originalSize = u32(b + 11);
    e.mtime = dosTimeToUnix(u32(b + 15));
    e.hasMtime = e.mtime != 0;
    e.rawName = cutAtNul(b + 22, nameLen);
    e.crc = u16(b + 22 + nameLen);

    if (level == 0) {
        // Optional extended area: OS id, and for Unix its own time and mode.
        const size_t ext = hlen - fixedEnd;
        const uint8_t *x = b + fixedEnd;
        if (ext >= 1)
            e.osId = x[0];
        if (ext >= 12 && x[0] == 'U') {
            e.mtime = static_cast<int32_t>(u32(x + 2));
            e.hasMtime = true;
            e.unixMode = u16(x + 6);
            e.hasUnixMode = true;
        }
        e.dataOffset = offset + hlen;
        return HeaderStatus::Ok;
    }

    e.osId = b[fixedEnd];
    ExtState st;
    uint64_t pos = offset + hlen;
    uint64_t extTotal = 0;
    size_t next = u16(b + hlen - 2);
    std::string ext;
    while (next != 0) {
        if (next < 3)
            return HeaderStatus::Invalid;
        if (pos + next > fileSize)
            return HeaderStatus::Truncated;
        extTotal += next;
        // The packed size counts the extended headers; they cannot exceed it.
        if (extTotal > e.packedSize)
            return HeaderStatus::Invalid;
        ext.resize(next);
        if (!src.read(pos, ext.data(), next))
            return HeaderStatus::Truncated;
        const auto *d = reinterpret_cast<const uint8_t *>(ext.data());
        applyExt(e, st, d[0], d + 1, next - 3, 0);
        pos += next;
        next = u16(d + next - 2);
    }
    // Extended header 0x42 gives the sizes of large files, without the
    // extended headers counted in.
    if (e.packedSize >= extTotal && e.packedSize == u32(b + 7))
        e.packedSize -= extTotal;
    e.dataOffset = pos;
    return HeaderStatus::Ok;
}

HeaderStatus readLevel23(HeaderSource &src, uint64_t offset, const uint8_t *h, Entry &e)
{
    const uint64_t fileSize = src.fileSize();
    const int level = h[20];
    const size_t sizeField = level == 2 ? 2 : 4;
    uint64_t total = 0;
    size_t firstExt = 0;
    if (level == 2) {
        total = u16(h);
        firstExt = 24;
    } else {
        if (u16(h) != 4)
            return HeaderStatus::Invalid;
        if (offset + 32 > fileSize)
            return HeaderStatus::Truncated;
        uint8_t t[8];
        if (!src.read(offset + 24, t, 8))
            return HeaderStatus::Truncated;
        total = u32(t);
        firstExt = 28;
    }
    if (total < firstExt + sizeField || total > kMaxHeader)
        return HeaderStatus::Invalid;
    if (offset + total > fileSize)
        return HeaderStatus::Truncated;
    // OS-9 LHa counts the level-2 header without its own size field; allow
    // the extended headers to run up to two bytes past the stated size.
    const uint64_t slack = level == 2 ? (fileSize - offset - total < 2 ? fileSize - offset - total : 2) : 0;
    std::string buf(total + slack, '\0');
    if (!src.read(offset, buf.data(), buf.size()))
        return HeaderStatus::Truncated;
    auto *b = reinterpret_cast<uint8_t *>(buf.data());
    const uint64_t limit = total + slack;

    e.packedSize = u32(b + 7);
    e.originalSize = u32(b + 11);
    e.mtime = u32(b + 15);
    e.hasMtime = true;
    e.crc = u16(b + 21);
    e.osId = b[23];

    ExtState st;
    size_t pos = firstExt + sizeField;
    uint64_t next = sizeField == 2 ? u16(b + firstExt) : u32(b + firstExt);
    while (next != 0) {
        if (next < 1 + sizeField || pos + next > limit)
            return HeaderStatus::Invalid;
        applyExt(e, st, b[pos], b + pos + 1, next - 1 - sizeField, pos + 1);
        const uint8_t *np = b + pos + next - sizeField;
        pos += next;
        next = sizeField == 2 ? u16(np) : u32(np);
    }
    const uint64_t headerLen = pos > total ? pos : total;
    if (st.haveHeaderCrc) {
        b[st.headerCrcPos] = 0;
        b[st.headerCrcPos + 1] = 0;
        if (crc16Update(0, b, headerLen) != st.headerCrc)
            return HeaderStatus::Invalid;
    }
    e.dataOffset = offset + headerLen;
    return HeaderStatus::Ok;
}

} // namespace

HeaderSource::HeaderSource(int fd, uint64_t fileSize, bool buffered)
    : fd_(fd), fileSize_(fileSize),
      buffer_(buffered ? static_cast<size_t>(std::min<uint64_t>(kWalkBuffer, fileSize)) : 0),
      in_(Window{fd, 0, fileSize}, buffer_)
{
}

HeaderStatus readHeader(HeaderSource &src, uint64_t offset, Entry &e)
{
    const uint64_t fileSize = src.fileSize();
    if (offset >= fileSize)
        return HeaderStatus::End;
    uint8_t h[24] = {};
    const uint64_t avail = fileSize - offset;
    const size_t n = avail < sizeof h ? static_cast<size_t>(avail) : sizeof h;
    if (!src.read(offset, h, n))
        return HeaderStatus::Truncated;
    if (h[0] == 0)
        return HeaderStatus::End;
    if (n < 7)
        return HeaderStatus::Invalid;
    if (!isMethod(h + 2))
        return HeaderStatus::Invalid;
    if (n < 22)
        return HeaderStatus::Truncated;

    e = Entry{};
    std::memcpy(e.method, h + 2, 5);
    e.level = h[20];
    e.headerOffset = offset;
    HeaderStatus st;
    switch (e.level) {
    case 0:
    case 1:
        st = readLevel01(src, offset, h, e);
        break;
    case 2:
    case 3:
        st = readLevel23(src, offset, h, e);
        break;
    default:
        return HeaderStatus::Invalid;
    }
    if (st == HeaderStatus::Ok)
        classify(e);
    return st;
}

namespace {

// The start of a header: a method such as "-lh5-" and a known level. A file
// that begins so is an archive, whatever the rest of the header says.
bool looksLikeHeader(const uint8_t *h, size_t n)
{
    return n >= 22 && h[0] != 0 && isMethod(h + 2) && h[20] <= 3;
}

// The name in a header that failed its checks, for the report; what cannot
// be read is left out.
std::string nameOfDamagedHeader(HeaderSource &src, uint64_t offset)
{
    const uint64_t fileSize = src.fileSize();
    uint8_t b[4096];
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof b, fileSize - offset));
    if (n < 22 || !src.read(offset, b, n))
        return {};
    if (b[20] <= 1) {
        const size_t end = std::min<size_t>(n, static_cast<size_t>(b[0]) + 2);
        return 22 + static_cast<size_t>(b[21]) <= end ? cutAtNul(b + 22, b[21]) : std::string();
    }
    if (b[20] != 2 || n < 26)
        return {};
    // Level 2: the name and folder are extended headers of their own.
    std::string name, dir;
    size_t next = u16(b + 24);
    size_t pos = 26;
    while (next >= 3 && pos + next <= n) {
        if (b[pos] == 0x01)
            name = cutAtNul(b + pos + 1, next - 3);
        else if (b[pos] == 0x02)
            dir.assign(reinterpret_cast<const char *>(b + pos + 1), next - 3);
        const size_t np = pos + next - 2;
        next = u16(b + np);
        pos = np + 2;
    }
    if (!dir.empty() && dir.back() != '\xFF' && !name.empty())
        dir += '\xFF';
    return dir + name;
}

} // namespace

// The first header. A file that does not begin with one may be a
// self-extractor: a program with the archive behind it.
HeaderStatus HeaderWalker::first(Entry &e)
{
    const uint64_t fileSize = src_.fileSize();
    if (start_) {
        // An earlier walk found it; the file changed if it is not there now.
        const HeaderStatus st = readHeader(src_, *start_, e);
        return st == HeaderStatus::End ? HeaderStatus::Invalid : st;
    }
    const HeaderStatus st = readHeader(src_, 0, e);
    if (st == HeaderStatus::Ok || st == HeaderStatus::Truncated)
        return st;
    uint8_t h[24] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof h, fileSize));
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
    for (size_t i = 1; i + 22 <= n; ++i) {
        if (i % kSfxCancelStride == 0 && cancelled_ && cancelled_()) {
            cancelledSearch_ = true;
            return HeaderStatus::End;
        }
        const uint8_t *p = b + i;
        if (p[2] != '-' || p[6] != '-' || !looksLikeHeader(p, n - i))
            continue;
        // What each level allows without reading further.
        uint64_t headerLen = 0;
        if (p[20] <= 1) {
            headerLen = static_cast<uint64_t>(p[0]) + 2;
            if (headerLen < 24 || i + headerLen > n)
                continue;
            uint8_t sum = 0;
            for (size_t k = 2; k < headerLen; ++k)
                sum = static_cast<uint8_t>(sum + p[k]);
            if (sum != p[1])
                continue;
        } else if (p[20] == 2) {
            headerLen = u16(p);
            if (headerLen < 26)
                continue;
        } else {
            if (u16(p) != 4 || i + 28 > n)
                continue;
            headerLen = u32(p + 24);
            // A level-3 header as large as a level 2 can be is plenty for
            // the entries of a self-extractor.
            if (headerLen < 32 || headerLen > 0xFFFF)
                continue;
        }
        // The header and the data it claims must lie within the file.
        if (i + headerLen + u32(p + 7) > fileSize)
            continue;
        // Past the budget only level-0 headers, whose checks stay within
        // the bytes already tested, are still tried.
        if (p[20] != 0 && src_.asked() > budget)
            continue;
        if (readHeader(src_, i, e) == HeaderStatus::Ok && e.dataOffset + e.packedSize <= fileSize)
            return HeaderStatus::Ok;
    }
    return HeaderStatus::End;
}

HeaderWalker::HeaderWalker(int fd, uint64_t fileSize, std::optional<uint64_t> start, std::function<bool()> cancelled)
    : src_(fd, fileSize, true), start_(start), cancelled_(std::move(cancelled))
{
}

bool HeaderWalker::next(Entry &e)
{
    if (ended_)
        return false;
    const uint64_t fileSize = src_.fileSize();
    HeaderStatus st;
    if (!started_) {
        started_ = true;
        st = first(e);
        if (st != HeaderStatus::Ok) {
            ended_ = true;
            // A file that begins with a header is an archive: a bad first
            // header is damage, not a reason to look for another one.
            status_ = cancelledSearch_                ? ScanStatus::Cancelled
                      : st == HeaderStatus::Truncated ? ScanStatus::Truncated
                      : st == HeaderStatus::Invalid   ? ScanStatus::Damaged
                                                      : ScanStatus::NotArchive;
            return false;
        }
        firstOffset_ = e.headerOffset;
    } else {
        st = readHeader(src_, offset_, e);
        // Some MS-DOS archivers end the file with a ^Z.
        if (st == HeaderStatus::Invalid && offset_ + 1 == fileSize) {
            uint8_t c = 0;
            if (src_.read(offset_, &c, 1) && c == 0x1A)
                st = HeaderStatus::End;
        }
    }
    if (st != HeaderStatus::Ok) {
        ended_ = true;
        if (st == HeaderStatus::End)
            status_ = count_ == 0 ? ScanStatus::NotArchive : ScanStatus::Ok;
        else
            status_ = st == HeaderStatus::Truncated ? ScanStatus::Truncated : ScanStatus::Damaged;
        return false;
    }
    if (e.dataOffset > fileSize || e.packedSize > fileSize - e.dataOffset) {
        ended_ = true;
        status_ = ScanStatus::Truncated;
        badEntryRawName_ = e.rawDir + e.rawName;
        return false;
    }
    // Every step moves forward by at least one header, so the walk ends.
    offset_ = e.dataOffset + e.packedSize;
    ++count_;
    return true;
}

ScanResult scanArchive(int fd, uint64_t fileSize)
{
    ScanResult res;
    HeaderWalker walk(fd, fileSize);
    Entry e;
    while (walk.next(e))
        res.entries.push_back(std::move(e));
    res.status = walk.status();
    res.badEntryRawName = walk.badEntryRawName();
    return res;
}

} // namespace unlha
