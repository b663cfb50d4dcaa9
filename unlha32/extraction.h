#pragma once
// One extraction of an archive into a destination folder, shared out over
// three files by idea: the run (extract.cpp), one entry's steps (steps.cpp)
// and when the data is decoded (schedule.cpp).
#include "unlha32/decoder.h"
#include "unlha32/names.h"
#include "unlha32/observer.h"
#include "unlha32/outputpipe.h"
#include "unlha32/parallel.h"
#include "unlha32/report.h"
#include "unlha32/survey.h"
#include "unlha32/writer.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace unlha {

constexpr uint64_t kProgressStep = 64 * 1024;
// Files in flight at most on the workers, each with an open temporary file.
constexpr std::size_t kMaxFilesInFlight = 64;
// The longest the progress stays still while bytes are being done.
constexpr std::chrono::milliseconds kProgressInterval{100};

// Report lines of one entry, kept until the entries before it are done so
// that the report reads in archive order however the work was shared out.
class EntryLog {
public:
    void item(const char *prefix, const std::string &name) { ops_.push_back({Kind::Item, prefix, 0, name}); }
    void skipped(const char *prefix, const std::string &name) { ops_.push_back({Kind::Skipped, prefix, 0, name}); }
    void fail(int result, const std::string &cause) { ops_.push_back({Kind::Fail, nullptr, result, cause}); }
    // `pattern` with %1 the entry's name and %2 `detail` (Report::failEntry).
    void failEntry(int result, const char *pattern, const std::string &entry, const std::string &detail = {})
    {
        ops_.push_back({Kind::FailEntry, pattern, result, entry, detail});
    }
    void replay(Report &report) const
    {
        for (const auto &op : ops_) {
            switch (op.kind) {
            case Kind::Item: report.item(op.prefix, op.text); break;
            case Kind::Skipped: report.skipped(op.prefix, op.text); break;
            case Kind::Fail: report.fail(op.result, op.text); break;
            case Kind::FailEntry: report.failEntry(op.result, op.prefix, op.text, op.detail); break;
            }
        }
    }

private:
    enum class Kind { Item, Skipped, Fail, FailEntry };
    struct Op {
        Kind kind;
        const char *prefix; // or the pattern of FailEntry
        int result;
        std::string text;
        std::string detail = {};
    };
    std::vector<Op> ops_;
};

// A file whose data is being decoded into a temporary file.
struct FileWork {
    Entry entry;
    DecodeJob job;
    std::vector<std::string> path;
    std::string display;
    TempFile tmp;
    std::string key; // the path as one string, to spot later entries that depend on it
    bool replace = false;
};

enum class Next { Go, Stop };

// An entry that stands for a folder: a folder entry, or an empty file whose
// stored name ends in a separator (MS-DOS archivers' level-0 folders).
inline bool storedAsFolder(const Entry &e, const DecodedPath &path)
{
    return e.kind == EntryKind::Directory
           || (e.kind == EntryKind::File && e.originalSize == 0 && e.packedSize == 0 && path.endsWithSeparator);
}

// A file or link by its device and inode.
struct FileId {
    uint64_t dev;
    uint64_t ino;
    bool operator==(const FileId &o) const { return dev == o.dev && ino == o.ino; }
};
struct FileIdHash {
    std::size_t operator()(const FileId &f) const { return std::hash<uint64_t>()(f.ino * 31 + f.dev); }
};

// One entry between the moment it is taken up and the moment its outcome is
// reported.
struct Pending {
    EntryLog log;
    Next next = Next::Go;
    bool isFile = false; // counted as done when reported
    bool again = false;  // nothing done for want of descriptors: to be taken up again
    std::unique_ptr<FileWork> file;
};

class Extraction {
public:
    Extraction(int fd, uint64_t fileSize, const std::string &destination, Observer &obs, Report &report,
               int workers)
        : fd_(fd), fileSize_(fileSize), destination_(destination), obs_(obs), report_(report), workers_(workers)
    {
    }

    // The whole run (extract.cpp): the survey, the entries, then links and
    // folder times, and the cause when the archive ended badly.
    int run(const std::string &archiveName);

private:
    enum class Decision { Replace, Skip, Cancel };

    // One entry's steps (steps.cpp), on the extraction's thread in archive
    // order: taken up (folder, question, temporary file), then, once its
    // data is decoded, checked and named, or abandoned.
    Decision decideOverwrite(const std::string &display);
    void prepare(const Entry &e, const DecodedPath &path, std::string display, Pending &p);
    void prepareFile(const Entry &e, const DecodedPath &path, const std::string &display,
                     std::optional<bool> answer, Pending &p);
    bool waitInstead(int sysError, const Entry &e, std::optional<bool> answer, Pending &p);
    void completeFile(Pending &p);
    Next finish(Pending &p);
    void abandon(Pending &p);
    // `needed`: the bytes the entry takes, to tell a full disk by.
    Next writeFailure(EntryLog &log, const std::string &display, WriteError err, int sysError,
                      uint64_t needed = 0);
    void skippedExisting(EntryLog &log, const std::string &display);
    void discardTemp(FileWork &f, EntryLog &log);
    std::string displayOf(const Entry &e, const DecodedPath &path);
    // What this run placed at `name` in `dirFd`, for a path the archive may
    // hold more than once: the header offset of the entry it came from.
    std::optional<uint64_t> placedByThisRun(int dirFd, const std::string &name) const;
    void notePlaced(const Entry &e, const struct stat &st);

    // When the data is decoded (schedule.cpp): one entry after the other on
    // this thread, or several at once on workers.
    void decodeHere(FileWork &f);
    bool extractSequential(EntrySource &entries);
    bool extractParallel(EntrySource &entries, int workers);
    bool useParallel(const Survey &survey) const;
    // Sizes the kept folders and the files in flight to the descriptors
    // the process has left.
    void fitDescriptors();

    // After the entries (extract.cpp).
    void makeLinks();
    void finishFolders();
    // Progress, at most every 64 KiB, and at least every 100 ms while bytes
    // are being done.
    void reportProgress(bool always = false)
    {
        const uint64_t d = done_.load(std::memory_order_relaxed);
        if (always || d >= reported_ + kProgressStep) {
            sendProgress(d);
            return;
        }
        // Tiny files add few bytes each; the bar still moves every so often.
        if (d != reported_ && std::chrono::steady_clock::now() - reportedAt_ >= kProgressInterval)
            sendProgress(d);
    }
    void sendProgress(uint64_t d)
    {
        reported_ = d;
        reportedAt_ = std::chrono::steady_clock::now();
        obs_.progress(d);
    }
    void skipBytes(const Entry &e)
    {
        if (e.kind == EntryKind::File)
            done_.fetch_add(e.originalSize, std::memory_order_relaxed);
    }

    int fd_;
    uint64_t fileSize_;
    std::string destination_;
    Observer &obs_;
    Report &report_;
    int workers_;
    SafeWriter writer_;
    NameDecoder names_;
    std::unique_ptr<EntryDecoder> decoder_;
    std::unique_ptr<OutputPipe> pipe_;
    // Header offsets of the links and of the folders created, read again
    // at the end: a few bytes each, whatever the number of entries.
    std::vector<uint64_t> links_;
    std::vector<uint64_t> folders_;
    // Files in flight at most, as the descriptors allow.
    std::size_t filesInFlight_ = kMaxFilesInFlight;
    // Whether files are in flight, whose end frees descriptors.
    bool mayWait_ = false;
    // The entry to be taken up again, by its header offset, and the
    // overwrite answer given about it.
    static constexpr uint64_t kNoEntry = std::numeric_limits<uint64_t>::max();
    uint64_t retryOffset_ = kNoEntry;
    std::optional<bool> retryAnswer_;
    bool replaceAll_ = false;
    bool skipAll_ = false;
    std::size_t filesDone_ = 0;
    std::unordered_set<uint64_t> os2Folders_; // header offsets, from the survey
    PathRepeats repeats_;
    // Files and links this run placed where the archive may hold the path
    // again, with the header offset of their entry: a later copy replaces
    // them without asking, as it would not replace what was there before.
    std::unordered_map<FileId, uint64_t, FileIdHash> placed_;
    std::atomic<uint64_t> done_{0};
    uint64_t reported_ = 0;
    std::chrono::steady_clock::time_point reportedAt_{};
};

} // namespace unlha
