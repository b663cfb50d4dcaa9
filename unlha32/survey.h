#pragma once
// The two walks over the headers: a survey first (how many entries and
// bytes, where the first header lies, how the walk ended, how the names are
// written), then the entries again for the extraction, one at a time,
// however many there are.
#include "unlha32/decoder.h"
#include "unlha32/lzhheader.h"
#include "unlha32/names.h"
#include "unlha32/observer.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace unlha {

// The evidence of all of an archive's names, counted name by name, for one
// encoding of them all: a single name is too short to tell, and every name
// of one archive comes from the same archiver on the same system.
class EncodingVotes {
public:
    void add(const NameTraits &t);
    // An OS id from a header: 'A' (Amiga) means ISO-8859-1, 'U' that
    // EUC-JP is possible.
    void addOs(uint8_t osId);
    NameEncoding decide() const;

private:
    uint64_t nonAscii_ = 0;
    uint64_t utf8_ = 0;
    uint64_t shiftJis_ = 0;
    uint64_t japanese_ = 0;
    uint64_t eucJp_ = 0;
    uint64_t wordy_ = 0;
    bool amiga_ = false;
    bool unix_ = false;
};

// Paths that may be stored more than once in the archive, in little memory
// whatever the number of entries: a later copy of a path replaces the file
// this run wrote for an earlier one, and the extraction notes which files
// those are only for these paths. Some paths stored once are taken for
// repeated ones (a few per cent of a huge archive); none repeated is missed.
class PathRepeats {
public:
    // The stored path with its separators alike, hashed; Unicode names
    // where the entry has them.
    static uint64_t hash(const Entry &e);
    // Each path of the walk in turn, then finish() once, which lets go of
    // the filter.
    void note(uint64_t h);
    void finish();
    bool mayRepeat(uint64_t h) const { return repeated_.count(h) != 0; }

private:
    // A Bloom filter that grows by stages, so that a small archive uses a
    // few KiB: 16 bits a path, 2 MiB at a million.
    struct Stage {
        std::vector<uint64_t> words;
        uint64_t paths = 0;
        uint64_t capacity = 0;
    };
    static const uint64_t *blockOf(const Stage &s, uint64_t h);
    static bool has(const Stage &s, uint64_t h);
    static void add(Stage &s, uint64_t h);
    void check(uint64_t h);
    std::vector<Stage> stages_;
    std::optional<uint64_t> pending_;
    std::unordered_set<uint64_t> repeated_;
};

// An OS/2 extended-attribute list (FEALIST): its total length in 4 bytes,
// equal to `n`, then entries of a flag byte, a name length, a 2-byte value
// length, the name with its NUL, and the value.
bool isOs2AttributeList(const uint8_t *d, std::size_t n);
// No OS/2 file carries more extended attributes.
constexpr uint64_t kMaxAttributeList = 64 * 1024;
// Level-0 files without an OS id kept in view as a folder's attributes, the
// newest first: LH/2 stores them just ahead of the folder's contents.
constexpr std::size_t kAttributeCandidates = 16;

// What the first walk over the headers learns; only the entries themselves
// are not kept, however many there are.
struct Survey {
    ScanStatus status = ScanStatus::Ok;
    std::string badEntryRawName;
    uint64_t entries = 0;
    uint64_t totalBytes = 0;
    uint64_t largest = 0;
    uint64_t files = 0;
    bool cancelled = false;
    uint64_t firstOffset = 0;
    Entry last; // for the cause when the walk ended on damage
    NameEncoding encoding = NameEncoding::Auto;
    // LH/2 for OS/2 stores a folder's extended attributes as a file entry
    // under the folder's name, ahead of its contents: the header offsets of
    // those entries that a later entry needs as a folder.
    std::unordered_set<uint64_t> os2Folders;
    PathRepeats repeats;

    // Walks the headers of the archive open on `fd`.
    Survey(int fd, uint64_t fileSize, const Observer &obs, NameDecoder &names);

private:
    struct Candidate {
        std::string path; // stored path, separators alike
        uint64_t headerOffset;
        int verdict = -1; // -1 not read yet, then whether its data is an attribute list
    };
    void noteOs2(const Entry &e, NameDecoder &names);
    void noteAttributes(const Entry &e, const std::string &path);
    bool holdsAttributeList(Candidate &c);

    int fd_;
    uint64_t fileSize_;
    // OS id '2': every file so far, by its path as pathKey() gives it.
    std::unordered_map<std::string, uint64_t> os2Files_;
    std::deque<Candidate> candidates_;
    std::unique_ptr<EntryDecoder> decoder_;
};

// The entries again, in the same order, for the extraction: the first
// walk's count of them, read one at a time.
class EntrySource {
public:
    EntrySource(int fd, uint64_t fileSize, uint64_t first, uint64_t count)
        : walk_(fd, fileSize, first), left_(count)
    {
    }
    bool next(Entry &e)
    {
        if (left_ == 0)
            return false;
        if (!walk_.next(e)) {
            // The file changed since the first walk.
            changed_ = true;
            left_ = 0;
            return false;
        }
        --left_;
        return true;
    }
    bool changed() const { return changed_; }

private:
    HeaderWalker walk_;
    uint64_t left_;
    bool changed_ = false;
};

} // namespace unlha
