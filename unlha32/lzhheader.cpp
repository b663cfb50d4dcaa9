// One header of any level, as lzhlayout.h draws them, and the walk from
// header to header.
#include "unlha32/lzhheader.h"

#include "unlha32/crc16.h"
#include "unlha32/lzhextended.h"
#include "unlha32/lzhlayout.h"

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

// Directory entries and symbolic links share the "-lhd-" method; a link is
// stored as "name|target".
void classify(Entry &e)
{
    const bool lhd = std::memcmp(e.method, "-lhd-", kMethodLength) == 0;
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
    } else if (modeSaysLink) {
        // A link whose target was not stored: the extraction skips it,
        // saying why, rather than make a folder of it.
        e.kind = EntryKind::Symlink;
    } else {
        e.kind = EntryKind::Directory;
    }
    if (e.kind == EntryKind::Symlink) {
        // The link's name came out of the raw names; no Unicode twin fits it.
        e.hasUnicodeName = e.hasUnicodeDir = false;
        e.unicodeName.clear();
        e.unicodeDir.clear();
    }
}

// `h`: the first kLeadIn bytes of the header at `offset`.
HeaderStatus readLevel01(HeaderSource &src, uint64_t offset, const uint8_t *h, Entry &e)
{
    const uint64_t fileSize = src.fileSize();
    const size_t hlen = static_cast<size_t>(h[kBaseLength]) + 2;
    const int level = h[kLevel];
    if (hlen < kLeastBase)
        return HeaderStatus::Invalid;
    if (offset + hlen > fileSize)
        return HeaderStatus::Truncated;
    uint8_t b[UINT8_MAX + 2];
    if (!src.read(offset, b, hlen))
        return HeaderStatus::Truncated;
    uint8_t sum = 0;
    for (size_t i = kBaseSum + 1; i < hlen; ++i)
        sum = static_cast<uint8_t>(sum + b[i]);
    if (sum != b[kBaseSum])
        return HeaderStatus::Invalid;
    const size_t nameLen = b[kNameLength];
    const size_t fixedEnd = kName + nameLen + kDataCrcLength;
    if (fixedEnd > hlen || (level == 1 && fixedEnd + kLevel1Tail > hlen))
        return HeaderStatus::Invalid;

    e.packedSize = u32(b + kPackedSize);
    e.originalSize = u32(b + kOriginalSize);
    e.mtime = dosTimeToUnix(u32(b + kTime));
    e.hasMtime = e.mtime != 0;
    e.rawName = cutAtNul(b + kName, nameLen);
    e.crc = u16(b + kName + nameLen);

    if (level == 0) {
        // Optional extension: OS id, and for Unix its own time and mode.
        const size_t ext = hlen - fixedEnd;
        const uint8_t *x = b + fixedEnd;
        if (ext >= 1)
            e.osId = x[0];
        if (ext >= kUnixExtLength && x[0] == 'U') {
            e.mtime = static_cast<int32_t>(u32(x + kUnixExtTime));
            e.hasMtime = true;
            e.unixMode = u16(x + kUnixExtMode);
            e.hasUnixMode = true;
        }
        e.dataOffset = offset + hlen;
        return HeaderStatus::Ok;
    }

    e.osId = b[fixedEnd];
    const bool noData = e.packedSize == 0 && std::memcmp(e.method, "-lhd-", kMethodLength) == 0;
    // The first extended header's length ends the base header.
    ExtState st;
    uint64_t pos = offset + hlen;
    uint64_t extTotal = 0;
    size_t next = u16(b + hlen - 2);
    std::string ext;
    while (next != 0) {
        if (next < kExtFrame)
            return HeaderStatus::Invalid;
        if (pos + next > fileSize)
            return HeaderStatus::Truncated;
        extTotal += next;
        // The packed size counts the extended headers; they cannot exceed
        // it. A folder or link has no data, and some archivers leave its
        // extended headers out of the count.
        if (extTotal > e.packedSize && !noData)
            return HeaderStatus::Invalid;
        ext.resize(next);
        if (!src.read(pos, ext.data(), next))
            return HeaderStatus::Truncated;
        const auto *d = reinterpret_cast<const uint8_t *>(ext.data());
        applyExt(e, st, d[0], d + 1, next - kExtFrame, 0);
        pos += next;
        next = u16(d + next - 2);
    }
    // Extended header 0x42 gives the sizes of large files, without the
    // extended headers counted in.
    if (e.packedSize >= extTotal && e.packedSize == u32(b + kPackedSize))
        e.packedSize -= extTotal;
    else if (noData)
        e.packedSize = 0;
    e.dataOffset = pos;
    return HeaderStatus::Ok;
}

// `h`: the first kLeadIn bytes of the header at `offset`.
HeaderStatus readLevel23(HeaderSource &src, uint64_t offset, const uint8_t *h, Entry &e)
{
    const uint64_t fileSize = src.fileSize();
    const int level = h[kLevel];
    const size_t width = level == 2 ? 2 : 4; // of the length fields
    uint64_t total = 0;
    size_t firstExt = 0;
    if (level == 2) {
        total = u16(h + kLength2);
        firstExt = kFirstExt2;
    } else {
        if (u16(h + kFieldWidth3) != kLevel3Width)
            return HeaderStatus::Invalid;
        if (offset + kLeast3 > fileSize)
            return HeaderStatus::Truncated;
        // The header's length and the first extended header's.
        uint8_t t[kLeast3 - kLength3];
        if (!src.read(offset + kLength3, t, sizeof t))
            return HeaderStatus::Truncated;
        total = u32(t);
        firstExt = kFirstExt3;
    }
    if (total < firstExt + width || total > kMaxHeader)
        return HeaderStatus::Invalid;
    if (offset + total > fileSize)
        return HeaderStatus::Truncated;
    // OS-9 LHa counts the level-2 header without its own length field; allow
    // the extended headers to run up to two bytes past the stated length.
    const uint64_t slack = level == 2 ? (fileSize - offset - total < 2 ? fileSize - offset - total : 2) : 0;
    std::string buf(total + slack, '\0');
    if (!src.read(offset, buf.data(), buf.size()))
        return HeaderStatus::Truncated;
    auto *b = reinterpret_cast<uint8_t *>(buf.data());
    const uint64_t limit = total + slack;

    e.packedSize = u32(b + kPackedSize);
    e.originalSize = u32(b + kOriginalSize);
    e.mtime = u32(b + kTime);
    e.hasMtime = true;
    e.crc = u16(b + kDataCrc);
    e.osId = b[kOsId];

    ExtState st;
    size_t pos = firstExt + width;
    uint64_t next = width == 2 ? u16(b + firstExt) : u32(b + firstExt);
    while (next != 0) {
        if (next < 1 + width || pos + next > limit)
            return HeaderStatus::Invalid;
        applyExt(e, st, b[pos], b + pos + 1, next - 1 - width, pos + 1);
        const uint8_t *np = b + pos + next - width;
        pos += next;
        next = width == 2 ? u16(np) : u32(np);
    }
    const uint64_t headerLen = pos > total ? pos : total;
    // The header CRC covers the whole header, extended headers included, as
    // the archiver hashed it: with the CRC's own two bytes still zero.
    // Levels 0 and 1 have their sum instead.
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
    uint8_t h[kLeadIn] = {};
    const uint64_t avail = fileSize - offset;
    const size_t n = avail < sizeof h ? static_cast<size_t>(avail) : sizeof h;
    if (!src.read(offset, h, n))
        return HeaderStatus::Truncated;
    // A zero length ends the archive.
    if (h[0] == 0)
        return HeaderStatus::End;
    if (n < kMethod + kMethodLength || !isMethod(h + kMethod))
        return HeaderStatus::Invalid;
    if (n < kCommonLength)
        return HeaderStatus::Truncated;

    e = Entry{};
    std::memcpy(e.method, h + kMethod, kMethodLength);
    e.level = h[kLevel];
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

} // namespace unlha
