#include "unlha32/survey.h"

#include "unlha32/crc16.h"
#include "unlha32/lzhlayout.h"
#include "unlha32/writer.h"

#include <algorithm>
#include <cstring>

namespace unlha {
namespace {

constexpr unsigned char kDirSeparator = 0xFF;

// Walks the stored path with '\', '/' and 0xFF alike as one '/', none first
// or last, giving `put` each byte: the same path however an archiver wrote
// it. Unicode names where the entry has them.
template <typename Put>
void walkStoredPath(const Entry &e, Put put)
{
    const std::string &dir = e.hasUnicodeDir ? e.unicodeDir : e.rawDir;
    const std::string &name = e.hasUnicodeName ? e.unicodeName : e.rawName;
    bool any = false;
    bool pending = false; // a separator, written only when more follows
    auto walk = [&](const std::string &s) {
        for (const char ch : s) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == '\\' || c == '/' || c == kDirSeparator) {
                pending = any;
            } else {
                if (pending)
                    put('/');
                put(ch);
                any = true;
                pending = false;
            }
        }
    };
    walk(dir);
    pending = any;
    walk(name);
}

std::string storedPath(const Entry &e)
{
    std::string out;
    walkStoredPath(e, [&out](char c) { out += c; });
    return out;
}

uint64_t storedPathHash(const Entry &e)
{
    uint64_t h = 0xCBF29CE484222325ull; // FNV-1a
    walkStoredPath(e, [&h](char c) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001B3ull;
    });
    return h;
}

bool hasHighByte(const std::string &s)
{
    for (const char ch : s)
        if (static_cast<unsigned char>(ch) >= 0x80 && static_cast<unsigned char>(ch) != kDirSeparator)
            return true;
    return false;
}

// A Bloom stage: 16 bits a path, 4 of them set per path, all in one block
// of 512 bits (one cache line). Each stage holds sixteen times the paths of
// the last, so that a path not seen before costs few cache misses.
constexpr uint64_t kFirstStagePaths = 4096;
constexpr uint64_t kStageGrowth = 16;
constexpr uint64_t kLastStagePaths = uint64_t(1) << 20;
constexpr uint64_t kBitsPerPath = 16;
constexpr int kBitsSet = 4;
constexpr uint64_t kBlockWords = 8;

} // namespace

void EncodingVotes::add(const NameTraits &t)
{
    if (!t.nonAscii)
        return;
    ++nonAscii_;
    utf8_ += t.utf8;
    shiftJis_ += t.shiftJis;
    japanese_ += t.japanese;
    eucJp_ += t.eucJp;
    wordy_ += t.wordy;
}

void EncodingVotes::addOs(uint8_t osId)
{
    amiga_ = amiga_ || osId == 'A';
    unix_ = unix_ || osId == 'U';
}

NameEncoding EncodingVotes::decide() const
{
    // Names in ASCII, or all in UTF-8: each name as it is.
    if (nonAscii_ == 0 || utf8_ == nonAscii_)
        return NameEncoding::Auto;
    // LHa for UNIX writes the names of the system it ran on, and says not
    // which: EUC-JP reads as half-width katakana and rare kanji in
    // Shift-JIS, and real Shift-JIS names are rarely valid EUC-JP.
    if (unix_ && eucJp_ == nonAscii_)
        return NameEncoding::EucJp;
    const bool allShiftJis = shiftJis_ == nonAscii_;
    // Amiga archivers write ISO-8859-1; Japanese names there are the rare
    // exception, and only names that are all Shift-JIS can be one.
    if (amiga_)
        return japanese_ > 0 && allShiftJis ? NameEncoding::ShiftJis : NameEncoding::Latin1;
    // Kana and common kanji: bytes that ISO-8859-1 leaves to control
    // characters. A Japanese archive with a broken name stays Japanese.
    if (japanese_ > 0)
        return NameEncoding::ShiftJis;
    // A name that Shift-JIS cannot read, or names whose only high bytes are
    // accented letters inside words, say the archive is not Japanese.
    if (!allShiftJis || wordy_ == nonAscii_)
        return NameEncoding::Latin1;
    return NameEncoding::ShiftJis;
}

uint64_t PathRepeats::hash(const Entry &e) { return storedPathHash(e); }

bool PathRepeats::has(const Stage &s, uint64_t h)
{
    const uint64_t *block = blockOf(s, h);
    uint64_t bits = (h * 0x9E3779B97F4A7C15ull) >> 28; // independent of the block's bits
    for (int k = 0; k < kBitsSet; ++k, bits >>= 9) {
        const unsigned bit = bits & 511;
        if (!(block[bit / 64] & (uint64_t(1) << (bit % 64))))
            return false;
    }
    return true;
}

void PathRepeats::add(Stage &s, uint64_t h)
{
    uint64_t *block = const_cast<uint64_t *>(blockOf(s, h));
    uint64_t bits = (h * 0x9E3779B97F4A7C15ull) >> 28; // independent of the block's bits
    for (int k = 0; k < kBitsSet; ++k, bits >>= 9) {
        const unsigned bit = bits & 511;
        block[bit / 64] |= uint64_t(1) << (bit % 64);
    }
    ++s.paths;
}

const uint64_t *PathRepeats::blockOf(const Stage &s, uint64_t h)
{
    return s.words.data() + (h & (s.words.size() / kBlockWords - 1)) * kBlockWords;
}

void PathRepeats::note(uint64_t h)
{
    // The blocks of this path are fetched while the next header is read;
    // the path itself is looked up after it.
    if (pending_)
        check(*pending_);
    pending_ = h;
    for (const Stage &s : stages_)
        __builtin_prefetch(blockOf(s, h));
}

void PathRepeats::finish()
{
    if (pending_)
        check(*pending_);
    pending_.reset();
    // Only the repeated paths are asked about from now on.
    std::vector<Stage>().swap(stages_);
}

void PathRepeats::check(uint64_t h)
{
    for (const Stage &s : stages_) {
        if (has(s, h)) {
            repeated_.insert(h);
            return;
        }
    }
    if (stages_.empty() || (stages_.back().paths >= stages_.back().capacity && stages_.back().capacity < kLastStagePaths)) {
        Stage s;
        s.capacity = stages_.empty() ? kFirstStagePaths : stages_.back().capacity * kStageGrowth;
        s.words.assign(s.capacity * kBitsPerPath / 64, 0);
        stages_.push_back(std::move(s));
    }
    add(stages_.back(), h);
}

bool isOs2AttributeList(const uint8_t *d, std::size_t n)
{
    if (n < 4 || u32(d) != n)
        return false;
    std::size_t pos = 4;
    if (pos == n)
        return false; // no attribute at all: nothing says it is a list
    while (pos < n) {
        if (n - pos < 4)
            return false;
        const uint8_t flags = d[pos];
        const std::size_t nameLen = d[pos + 1];
        const std::size_t valueLen = u16(d + pos + 2);
        // Only "needed" (0x80) is a flag; names are printable ASCII.
        if ((flags & 0x7F) != 0 || nameLen == 0 || n - pos - 4 < nameLen + 1 + valueLen)
            return false;
        for (std::size_t i = 0; i < nameLen; ++i)
            if (d[pos + 4 + i] < 0x20 || d[pos + 4 + i] > 0x7E)
                return false;
        if (d[pos + 4 + nameLen] != 0)
            return false;
        pos += 4 + nameLen + 1 + valueLen;
    }
    return true;
}

Survey::Survey(int fd, uint64_t fileSize, const Observer &obs, NameDecoder &names)
    : fd_(fd), fileSize_(fileSize)
{
    EncodingVotes votes;
    HeaderWalker walk(fd, fileSize, std::nullopt, [&obs] { return obs.cancelled(); });
    Entry e;
    std::string raw;
    while (walk.next(e)) {
        // A million headers take a while to read from a cold disk.
        if (entries % 1024 == 1023 && obs.cancelled()) {
            cancelled = true;
            return;
        }
        ++entries;
        if (e.kind == EntryKind::File) {
            ++files;
            totalBytes += e.originalSize;
            largest = std::max(largest, e.originalSize);
        }
        repeats.note(storedPathHash(e));
        votes.addOs(e.osId);
        if (hasHighByte(e.rawDir) || hasHighByte(e.rawName)) {
            raw = e.rawDir;
            if (!raw.empty() && !e.rawName.empty())
                raw += static_cast<char>(kDirSeparator);
            raw += e.rawName;
            const char lastByte = raw.empty() ? '\0' : raw.back();
            const bool folder = e.kind == EntryKind::Directory
                                || (e.kind == EntryKind::File && e.originalSize == 0
                                    && (lastByte == '\\' || lastByte == '/'));
            votes.add(names.traits(raw, folder));
        }
        if (hasHighByte(e.linkTarget))
            votes.add(names.traits(e.linkTarget, false));
        if (e.osId == '2' || !os2Files_.empty())
            noteOs2(e, names);
        if (!candidates_.empty() || (e.kind == EntryKind::File && e.level == 0 && e.osId == 0))
            noteAttributes(e, storedPath(e));
        last = std::move(e);
    }
    repeats.finish();
    status = walk.status();
    cancelled = status == ScanStatus::Cancelled;
    badEntryRawName = walk.badEntryRawName();
    firstOffset = walk.firstOffset();
    encoding = votes.decide();
    candidates_.clear();
    decoder_.reset();
}

void Survey::noteOs2(const Entry &e, NameDecoder &names)
{
    const DecodedPath path = names.decodePath(e);
    for (std::size_t i = 1; i < path.components.size(); ++i) {
        const auto it = os2Files_.find(pathKey(path.components, i));
        if (it != os2Files_.end())
            os2Folders.insert(it->second);
    }
    if (e.osId == '2' && e.kind == EntryKind::File && !path.components.empty())
        os2Files_[pathKey(path.components, path.components.size())] = e.headerOffset;
}

// LH/2 writes level-0 headers without an OS id: a file entry is a folder's
// attributes when a later entry lies inside it and its data is an OS/2
// attribute list.
void Survey::noteAttributes(const Entry &e, const std::string &path)
{
    for (Candidate &c : candidates_) {
        if (path.size() > c.path.size() && path[c.path.size()] == '/' && path.compare(0, c.path.size(), c.path) == 0
            && holdsAttributeList(c))
            os2Folders.insert(c.headerOffset);
    }
    if (e.kind == EntryKind::File && e.level == 0 && e.osId == 0 && e.originalSize >= 4
        && e.originalSize <= kMaxAttributeList && !path.empty()) {
        candidates_.push_front({path, e.headerOffset});
        if (candidates_.size() > kAttributeCandidates)
            candidates_.pop_back();
    }
}

bool Survey::holdsAttributeList(Candidate &c)
{
    if (c.verdict >= 0)
        return c.verdict == 1;
    c.verdict = 0;
    HeaderSource headers(fd_, fileSize_);
    Entry e;
    if (readHeader(headers, c.headerOffset, e) != HeaderStatus::Ok || e.originalSize > kMaxAttributeList)
        return false;
    std::vector<uint8_t> data;
    data.reserve(e.originalSize);
    if (!decoder_)
        decoder_ = makeDecoder(fd_);
    const DecodeStatus st = decoder_->decode(e, [&](const uint8_t *d, std::size_t n) {
        if (data.size() + n > e.originalSize)
            return false;
        data.insert(data.end(), d, d + n);
        return true;
    });
    if (st == DecodeStatus::Ok && data.size() == e.originalSize
        && crc16Update(0, data.data(), data.size()) == e.crc && isOs2AttributeList(data.data(), data.size()))
        c.verdict = 1;
    return c.verdict == 1;
}

} // namespace unlha
