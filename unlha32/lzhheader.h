#pragma once
// Reads the headers of an LHA archive one at a time: entries, their sizes
// and where their data lies, and whether the archive is truncated or damaged.
// Nothing keeps them: an extraction walks the headers twice, a survey and
// then the entries again as it extracts them (survey.h), and reads a header
// again by its offset where it needs one later.
#include "unlha32/fileread.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace unlha {

enum class EntryKind { File, Directory, Symlink };

struct Entry {
    std::string rawName;     // file name bytes as stored (may hold separators)
    std::string rawDir;      // directory bytes of extended header 0x02, 0xFF separated
    std::string linkTarget;  // raw target bytes of a symbolic link
    std::string unicodeName; // extended header 0x44 in UTF-8, when hasUnicodeName
    std::string unicodeDir;  // extended header 0x45 in UTF-8, folders ended by 0xFF
    char method[6] = {};     // "-lh5-" and so on, NUL-terminated
    EntryKind kind = EntryKind::File;
    int level = 0;
    uint8_t osId = 0;        // 'M', 'U', 'A', ... 0 when the header has none
    uint64_t headerOffset = 0;
    uint64_t dataOffset = 0;
    uint64_t packedSize = 0;
    uint64_t originalSize = 0;
    uint16_t crc = 0;
    int64_t mtime = 0;       // seconds since the epoch, UTC
    bool hasMtime = false;
    uint32_t unixMode = 0;   // full st_mode incl. type bits when hasUnixMode
    bool hasUnixMode = false;
    bool hasUnicodeName = false;
    bool hasUnicodeDir = false;

    std::string methodString() const { return std::string(method, 5); }
};

enum class ScanStatus { Ok, NotArchive, Truncated, Damaged, Cancelled };

enum class HeaderStatus { Ok, End, Invalid, Truncated };

// The archive as the header reader reads it: at any offset of its
// `fileSize` bytes. Buffered, as for a walk, the headers of small
// neighbouring entries cost one system call between them; unbuffered, a
// header read now and then costs no buffer.
class HeaderSource {
public:
    HeaderSource(int fd, uint64_t fileSize, bool buffered = false);
    HeaderSource(const HeaderSource &) = delete;
    HeaderSource &operator=(const HeaderSource &) = delete;

    bool read(uint64_t off, void *out, size_t n)
    {
        asked_ += n;
        return in_.readAt(off, out, n);
    }
    int fd() const { return fd_; }
    uint64_t fileSize() const { return fileSize_; }
    // Bytes asked for so far, to bound what a search may cost.
    uint64_t asked() const { return asked_; }

private:
    int fd_;
    uint64_t fileSize_;
    std::vector<uint8_t> buffer_;
    BufferedReader in_;
    uint64_t asked_ = 0;
};

// Reads the header at `offset`; on Ok fills `out` (data offset and size
// included, data not checked against the end of the file).
HeaderStatus readHeader(HeaderSource &src, uint64_t offset, Entry &out);

// What can still be read of the header at `offset`, which failed its
// checks, read as a header of `level` whatever its level byte says: above
// all its name and folder, for the report. Method, sum and CRC go
// unchecked, a damaged length gives way to what the file holds, and the
// extended headers are read up to the first that makes no sense. False
// when not even the name lies where the level puts it.
bool salvageHeader(HeaderSource &src, uint64_t offset, int level, Entry &out);

// Whether the header at `offset` passes every check as a header of
// `level`, whatever its method and level byte say: a first header whose
// level byte alone was damaged does so at the level it was written at.
bool soundAsLevel(HeaderSource &src, uint64_t offset, int level);

// Whether the sum that a level-0 or level-1 base header `b` of `length`
// bytes holds is the sum of its bytes.
bool baseSumMatches(const uint8_t *b, size_t length);

// The entry's folder and name as one raw path, 0xFF between them.
std::string rawPath(const Entry &e);

// Walks the headers of the archive open on `fd` (of `fileSize` bytes) one
// entry at a time, so that an archive of any number of entries is read in
// the same little memory. Walking the same unchanged file again gives the
// same entries.
class HeaderWalker {
public:
    // `start`: where the first header lies when an earlier walk found it, so
    // that a self-extractor's program is searched only once. `cancelled` is
    // asked now and then during that search.
    HeaderWalker(int fd, uint64_t fileSize, std::optional<uint64_t> start = std::nullopt,
                 std::function<bool()> cancelled = {});
    HeaderWalker(const HeaderWalker &) = delete;
    HeaderWalker &operator=(const HeaderWalker &) = delete;

    // True with the next entry in `out`. False at the end, or where the
    // archive is damaged: an entry whose data runs past the end of the file
    // ends the walk with Truncated, the entries before it having been given.
    bool next(Entry &out);
    // Where the walk ended; Ok until then.
    ScanStatus status() const { return status_; }
    // For Truncated, and Damaged at the first header: the raw name of the
    // entry where it went wrong (empty when no name could be read).
    const std::string &badEntryRawName() const { return badEntryRawName_; }
    // Where the first header was found; valid once next() returned true.
    uint64_t firstOffset() const { return firstOffset_; }

private:
    HeaderStatus first(Entry &out);
    HeaderStatus searchStub(Entry &out);
    bool damagedBefore(const uint8_t *b, size_t n, size_t j, uint64_t budget);

    HeaderSource src_;
    std::optional<uint64_t> start_;
    std::function<bool()> cancelled_;
    uint64_t firstOffset_ = 0;
    uint64_t offset_ = 0;
    uint64_t count_ = 0;
    bool started_ = false;
    bool cancelledSearch_ = false;
    bool ended_ = false;
    ScanStatus status_ = ScanStatus::Ok;
    std::string badEntryRawName_;
};

} // namespace unlha
