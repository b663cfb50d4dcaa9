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
// What a salvage reads of a level-2 or level-3 header whose length is
// damaged: as much as a level-2 length can say.
constexpr uint64_t kSalvageWindow = UINT16_MAX;
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

// How a header is read: with every check, or, for one that failed them,
// for what can still be read of it.
enum class Reading { Checked, Salvage };

// `h`: the first kLeadIn bytes of the header at `offset`.
HeaderStatus readLevel01(HeaderSource &src, uint64_t offset, const uint8_t *h, int level, Entry &e, Reading how)
{
    const bool salvage = how == Reading::Salvage;
    // A salvage keeps what it has read where a check would fail the header.
    auto fail = [salvage](HeaderStatus st) { return salvage ? HeaderStatus::Ok : st; };
    const uint64_t fileSize = src.fileSize();
    size_t hlen = static_cast<size_t>(h[kBaseLength]) + kBaseUncounted;
    const bool lengthSound = hlen >= kLeastBase && offset + hlen <= fileSize;
    if (!lengthSound) {
        if (!salvage)
            return hlen < kLeastBase ? HeaderStatus::Invalid : HeaderStatus::Truncated;
        // The length is damaged: the name may still be where it belongs.
        hlen = static_cast<size_t>(std::min<uint64_t>(kLargestBase, fileSize - offset));
    }
    uint8_t b[kLargestBase];
    if (!src.read(offset, b, hlen))
        return HeaderStatus::Truncated;
    // Read as `level`: for a header whose level byte was damaged, the sum
    // then tells whether that was all.
    b[kLevel] = static_cast<uint8_t>(level);
    if (!salvage && !baseSumMatches(b, hlen))
        return HeaderStatus::Invalid;
    // Level 1 ends its base header with an OS id and the first extended
    // header's length after the data CRC.
    const size_t tail = kDataCrcLength + (level == 1 ? kLevel1Tail : 0);
    size_t nameLen = b[kNameLength];
    // A damaged name length: the name is what lies before that tail.
    if (salvage && kName + nameLen + tail > hlen && hlen >= kName + tail)
        nameLen = hlen - kName - tail;
    const size_t fixedEnd = kName + nameLen + kDataCrcLength;
    if (kName + nameLen + tail > hlen)
        return HeaderStatus::Invalid;

    e.packedSize = u32(b + kPackedSize);
    e.originalSize = u32(b + kOriginalSize);
    e.mtime = dosTimeToUnix(u32(b + kTime));
    e.hasMtime = e.mtime != 0;
    e.rawName = cutAtNul(b + kName, nameLen);
    e.crc = u16(b + kName + nameLen);

    if (level == 0 || !lengthSound) {
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
    size_t next = u16(b + hlen - kLengthWidth);
    std::string ext;
    while (next != 0) {
        if (next < kExtFrame)
            return fail(HeaderStatus::Invalid);
        if (pos + next > fileSize)
            return fail(HeaderStatus::Truncated);
        extTotal += next;
        // The packed size counts the extended headers; they cannot exceed
        // it. A folder or link has no data, and some archivers leave its
        // extended headers out of the count.
        if (extTotal > e.packedSize && !noData)
            return fail(HeaderStatus::Invalid);
        ext.resize(next);
        if (!src.read(pos, ext.data(), next))
            return fail(HeaderStatus::Truncated);
        const auto *d = reinterpret_cast<const uint8_t *>(ext.data());
        applyExt(e, st, d[0], d + kExtId, next - kExtFrame, 0);
        pos += next;
        next = u16(d + next - kLengthWidth);
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
HeaderStatus readLevel23(HeaderSource &src, uint64_t offset, const uint8_t *h, int level, Entry &e, Reading how)
{
    const bool salvage = how == Reading::Salvage;
    auto fail = [salvage](HeaderStatus st) { return salvage ? HeaderStatus::Ok : st; };
    const uint64_t fileSize = src.fileSize();
    const size_t width = level == 2 ? kLengthWidth : kLevel3Width; // of the length fields
    const size_t firstExt = level == 2 ? kFirstExt2 : kFirstExt3;
    if (level == 3) {
        if (!salvage && u16(h + kFieldWidth3) != kLevel3Width)
            return HeaderStatus::Invalid;
        // The lead-in holds the lengths only where the file does.
        if (offset + kLeast3 > fileSize)
            return HeaderStatus::Truncated;
    }
    uint64_t total = level == 2 ? u16(h + kLength2) : u32(h + kLength3);
    if (total < firstExt + width || total > kMaxHeader || offset + total > fileSize) {
        if (!salvage)
            return total < firstExt + width || total > kMaxHeader ? HeaderStatus::Invalid : HeaderStatus::Truncated;
        // The length is damaged: the extended headers are read as far as
        // they make sense, if the file reaches the first one's length.
        total = std::min<uint64_t>(fileSize - offset, kSalvageWindow);
        if (total < firstExt + width)
            return HeaderStatus::Invalid;
    }
    // OS-9 LHa's headers may run a little past the stated length.
    const uint64_t slack = level == 2 ? std::min<uint64_t>(fileSize - offset - total, kOs9Shortfall) : 0;
    std::string buf(total + slack, '\0');
    if (!src.read(offset, buf.data(), buf.size()))
        return HeaderStatus::Truncated;
    auto *b = reinterpret_cast<uint8_t *>(buf.data());
    const uint64_t limit = total + slack;
    // Read as `level`, as at levels 0 and 1: the CRC says whether a damaged
    // level byte was all.
    b[kLevel] = static_cast<uint8_t>(level);

    e.packedSize = u32(b + kPackedSize);
    e.originalSize = u32(b + kOriginalSize);
    e.mtime = u32(b + kTime);
    e.hasMtime = true;
    e.crc = u16(b + kDataCrc);
    e.osId = b[kOsId];

    ExtState st;
    size_t pos = firstExt + width;
    uint64_t next = width == kLengthWidth ? u16(b + firstExt) : u32(b + firstExt);
    while (next != 0) {
        if (next < kExtId + width || pos + next > limit)
            return fail(HeaderStatus::Invalid);
        applyExt(e, st, b[pos], b + pos + kExtId, next - kExtId - width, pos + kExtId);
        const uint8_t *np = b + pos + next - width;
        pos += next;
        next = width == kLengthWidth ? u16(np) : u32(np);
    }
    if (salvage)
        return HeaderStatus::Ok;
    // Past the extended headers only LHa for UNIX's pad byte may follow:
    // more is a header whose chain of lengths was damaged.
    if (pos + (level == 2 ? kLevel2Pad : 0) < total)
        return HeaderStatus::Invalid;
    const uint64_t headerLen = pos > total ? pos : total;
    // The header CRC covers the whole header, extended headers included, as
    // the archiver hashed it: with the CRC's own two bytes still zero.
    // Levels 0 and 1 have their sum instead.
    if (st.haveHeaderCrc) {
        std::memset(b + st.headerCrcPos, 0, kHeaderCrcLength);
        if (crc16Update(0, b, headerLen) != st.headerCrc)
            return HeaderStatus::Invalid;
    }
    e.dataOffset = offset + headerLen;
    return HeaderStatus::Ok;
}

// The first kLeadIn bytes at `offset` (fewer where the file ends, the rest
// zero), and how many of them the file has.
bool readLeadIn(HeaderSource &src, uint64_t offset, uint8_t (&h)[kLeadIn], size_t &n)
{
    n = static_cast<size_t>(std::min<uint64_t>(src.fileSize() - offset, kLeadIn));
    return src.read(offset, h, n);
}

} // namespace

HeaderSource::HeaderSource(int fd, uint64_t fileSize, bool buffered)
    : fd_(fd), fileSize_(fileSize),
      buffer_(buffered ? static_cast<size_t>(std::min<uint64_t>(kWalkBuffer, fileSize)) : 0),
      in_(Window{fd, 0, fileSize}, buffer_)
{
}

bool baseSumMatches(const uint8_t *b, size_t length)
{
    uint8_t sum = 0;
    for (size_t i = kBaseUncounted; i < length; ++i)
        sum = static_cast<uint8_t>(sum + b[i]);
    return sum == b[kBaseSum];
}

HeaderStatus readHeader(HeaderSource &src, uint64_t offset, Entry &e)
{
    if (offset >= src.fileSize())
        return HeaderStatus::End;
    uint8_t h[kLeadIn] = {};
    size_t n = 0;
    if (!readLeadIn(src, offset, h, n))
        return HeaderStatus::Truncated;
    // A zero length ends the archive, unless a header's start follows: a
    // level-2 header whose 16-bit length is a multiple of 256, or a header
    // whose length byte was damaged, which must not pass for the end and
    // drop the entries after it.
    if (h[0] == 0) {
        if (!methodAndLevel(h, n))
            return HeaderStatus::End;
        if (h[kLevel] != 2)
            return HeaderStatus::Invalid;
    }
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
        st = readLevel01(src, offset, h, e.level, e, Reading::Checked);
        break;
    case 2:
    case 3:
        st = readLevel23(src, offset, h, e.level, e, Reading::Checked);
        break;
    default:
        return HeaderStatus::Invalid;
    }
    if (st == HeaderStatus::Ok)
        classify(e);
    return st;
}

bool salvageHeader(HeaderSource &src, uint64_t offset, int level, Entry &e)
{
    e = Entry{};
    uint8_t h[kLeadIn] = {};
    size_t n = 0;
    if (offset >= src.fileSize() || !readLeadIn(src, offset, h, n) || n < kCommonLength)
        return false;
    e.level = level;
    e.headerOffset = offset;
    const HeaderStatus st = level <= 1 ? readLevel01(src, offset, h, level, e, Reading::Salvage)
                                       : readLevel23(src, offset, h, level, e, Reading::Salvage);
    return st == HeaderStatus::Ok;
}

bool soundAsLevel(HeaderSource &src, uint64_t offset, int level)
{
    uint8_t h[kLeadIn] = {};
    size_t n = 0;
    if (offset >= src.fileSize() || !readLeadIn(src, offset, h, n) || n < kCommonLength)
        return false;
    Entry e;
    const HeaderStatus st = level <= 1 ? readLevel01(src, offset, h, level, e, Reading::Checked)
                                       : readLevel23(src, offset, h, level, e, Reading::Checked);
    return st == HeaderStatus::Ok;
}

std::string rawPath(const Entry &e)
{
    std::string path = e.rawDir;
    if (!path.empty() && path.back() != '\xFF' && !e.rawName.empty())
        path += '\xFF';
    return path + e.rawName;
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
        badEntryRawName_ = rawPath(e);
        return false;
    }
    // Every step moves forward by at least one header, so the walk ends.
    offset_ = e.dataOffset + e.packedSize;
    ++count_;
    return true;
}

} // namespace unlha
