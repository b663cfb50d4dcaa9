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

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace unlha {

constexpr uint64_t kProgressStep = 64 * 1024;
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

// One entry between the moment it is taken up and the moment its outcome is
// reported.
struct Pending {
    EntryLog log;
    Next next = Next::Go;
    bool isFile = false; // counted as done when reported
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
    void prepareFile(const Entry &e, const DecodedPath &path, const std::string &display, Pending &p);
    void completeFile(Pending &p);
    Next finish(Pending &p);
    void abandon(Pending &p);
    Next writeFailure(EntryLog &log, const std::string &display, WriteError err, int sysError);
    void skippedExisting(EntryLog &log, const std::string &display);
    void discardTemp(FileWork &f, EntryLog &log);
    std::string displayOf(const Entry &e, const DecodedPath &path);

    // When the data is decoded (schedule.cpp): one entry after the other on
    // this thread, or several at once on workers.
    void decodeHere(FileWork &f);
    bool extractSequential(EntrySource &entries);
    bool extractParallel(EntrySource &entries, int workers);
    bool useParallel(const Survey &survey) const;

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
    bool replaceAll_ = false;
    bool skipAll_ = false;
    std::size_t filesDone_ = 0;
    std::unordered_set<std::string> os2Folders_;
    std::atomic<uint64_t> done_{0};
    uint64_t reported_ = 0;
    std::chrono::steady_clock::time_point reportedAt_{};
};

} // namespace unlha
