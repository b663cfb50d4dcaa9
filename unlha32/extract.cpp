#include "unlha32/extract.h"

#include "unlha32/command.h"
#include "unlha32/decoder.h"
#include "unlha32/lzhheader.h"
#include "unlha32/macbinary.h"
#include "unlha32/messages.h"
#include "unlha32/names.h"
#include "unlha32/outputpipe.h"
#include "unlha32/parallel.h"
#include "unlha32/ownerlink.h"
#include "unlha32/unlha32.h"
#include "unlha32/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <deque>
#include <memory>
#include <unordered_set>

namespace unlha {
namespace {

constexpr uint64_t kProgressStep = 64 * 1024;
// How often the extraction's thread looks at cancel and progress while the
// workers decode.
constexpr std::chrono::milliseconds kPollInterval{20};
// The longest the progress stays still while bytes are being done.
constexpr std::chrono::milliseconds kProgressInterval{100};

std::string pathKey(const std::vector<std::string> &path, std::size_t count)
{
    std::string k;
    for (std::size_t i = 0; i < count; ++i) {
        k += path[i];
        k += '/';
    }
    return k;
}

// What the first walk over the headers learns; only the entries themselves
// are not kept, however many there are.
struct Survey {
    ScanStatus status = ScanStatus::Ok;
    std::string badEntryRawName;
    uint64_t entries = 0;
    uint64_t totalBytes = 0;
    uint64_t largest = 0;
    uint64_t files = 0;
    bool libarchive = true;
    bool cancelled = false;
    uint64_t firstOffset = 0;
    Entry last; // for the cause when the walk ended on damage
    // LH/2 for OS/2 stores a folder's extended attributes as a file entry
    // under the folder's name, ahead of its contents: those entries that a
    // later entry needs as a folder (paths as pathKey() gives them).
    std::unordered_set<std::string> os2Folders;

    Survey(int fd, uint64_t fileSize, const Observer &obs, NameDecoder &names)
    {
        std::unordered_set<std::string> os2Files;
        HeaderWalker walk(fd, fileSize, std::nullopt, [&obs] { return obs.cancelled(); });
        Entry e;
        while (walk.next(e)) {
            // A million headers take a while to read from a cold disk.
            if (entries % 1024 == 1023 && obs.cancelled()) {
                cancelled = true;
                return;
            }
            ++entries;
            libarchive = libarchive && suitsLibarchive(e);
            if (e.kind == EntryKind::File) {
                ++files;
                totalBytes += e.originalSize;
                largest = std::max(largest, e.originalSize);
            }
            if (e.osId == '2' || !os2Files.empty())
                noteOs2(e, names, os2Files);
            last = std::move(e);
        }
        status = walk.status();
        cancelled = status == ScanStatus::Cancelled;
        badEntryRawName = walk.badEntryRawName();
        firstOffset = walk.firstOffset();
    }

private:
    void noteOs2(const Entry &e, NameDecoder &names, std::unordered_set<std::string> &os2Files)
    {
        const DecodedPath path = names.decodePath(e.rawDir, e.rawName);
        for (std::size_t i = 1; i < path.components.size(); ++i) {
            const std::string key = pathKey(path.components, i);
            if (os2Files.count(key))
                os2Folders.insert(key);
        }
        if (e.osId == '2' && e.kind == EntryKind::File && !path.components.empty())
            os2Files.insert(pathKey(path.components, path.components.size()));
    }
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

// Report lines of one entry, kept until the entries before it are done so
// that the report reads in archive order however the work was shared out.
class EntryLog {
public:
    void item(const char *prefix, const std::string &name) { ops_.push_back({Kind::Item, prefix, 0, name}); }
    void skipped(const char *prefix, const std::string &name) { ops_.push_back({Kind::Skipped, prefix, 0, name}); }
    void fail(int result, const std::string &cause) { ops_.push_back({Kind::Fail, nullptr, result, cause}); }
    void replay(Report &report) const
    {
        for (const auto &op : ops_) {
            switch (op.kind) {
            case Kind::Item: report.item(op.prefix, op.text); break;
            case Kind::Skipped: report.skipped(op.prefix, op.text); break;
            case Kind::Fail: report.fail(op.result, op.text); break;
            }
        }
    }

private:
    enum class Kind { Item, Skipped, Fail };
    struct Op {
        Kind kind;
        const char *prefix;
        int result;
        std::string text;
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

    int run(const std::string &archiveName);

private:
    enum class Decision { Replace, Skip, Cancel };

    Decision decideOverwrite(const std::string &display);
    void prepare(const Entry &e, const DecodedPath &path, std::string display, Pending &p);
    void prepareFile(const Entry &e, const DecodedPath &path, const std::string &display, Pending &p);
    void completeFile(Pending &p);
    Next finish(Pending &p);
    void abandon(Pending &p);
    Next writeFailure(EntryLog &log, const std::string &display, WriteError err, int sysError);
    void skippedExisting(EntryLog &log, const std::string &display);
    void discardTemp(FileWork &f, EntryLog &log);
    void decodeHere(FileWork &f);
    bool extractSequential(EntrySource &entries);
    bool extractParallel(EntrySource &entries, int workers);
    bool useParallel(const Survey &survey) const;
    void makeLinks();
    void finishFolders();
    std::string displayOf(const Entry &e, const DecodedPath &path);
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
    Backend backend_ = Backend::Libarchive;
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

Extraction::Decision Extraction::decideOverwrite(const std::string &display)
{
    if (replaceAll_)
        return Decision::Replace;
    if (skipAll_)
        return Decision::Skip;
    switch (obs_.askOverwrite(display)) {
    case OverwriteAnswer::Replace: return Decision::Replace;
    case OverwriteAnswer::ReplaceAll: replaceAll_ = true; return Decision::Replace;
    case OverwriteAnswer::Skip: return Decision::Skip;
    case OverwriteAnswer::SkipAll: skipAll_ = true; return Decision::Skip;
    case OverwriteAnswer::Cancel: break;
    }
    return Decision::Cancel;
}

Next Extraction::writeFailure(EntryLog &log, const std::string &display, WriteError err, int sysError)
{
    switch (err) {
    case WriteError::Unsafe:
        log.skipped(msg::kSkippedUnsafePath, display);
        return Next::Go;
    case WriteError::FileInWay:
        log.skipped(msg::kSkippedFileInWay, display);
        return Next::Go;
    case WriteError::DirExists:
        log.skipped(msg::kSkippedFolderExists, display);
        return Next::Go;
    case WriteError::Exists:
        log.skipped(msg::kSkippedExists, display);
        return Next::Go;
    case WriteError::LinkOutside:
        log.skipped(msg::kSkippedLinkOutside, display);
        return Next::Go;
    case WriteError::Io:
    case WriteError::None:
        break;
    }
    // A full disk, a read-only or vanished destination fails every following
    // entry too; a name or permission refused further down only this one.
    const bool refusedHere =
        (sysError == EACCES || sysError == EPERM || sysError == ENOENT) && !writer_.destinationUsable();
    if (concernsDestination(sysError) || refusedHere) {
        log.fail(UNLHA_ERR_WRITE, format(msg::kCauseWrite, display, systemErrorText(sysError)));
        return Next::Stop;
    }
    log.skipped("", format(msg::kSkippedRefused, display, systemErrorText(sysError)));
    return Next::Go;
}

// An existing file kept: the user's own choice is no failure, a file kept
// because nobody could be asked is.
void Extraction::skippedExisting(EntryLog &log, const std::string &display)
{
    if (obs_.asksUser())
        log.item(msg::kSkippedExists, display);
    else
        log.skipped(msg::kSkippedExists, display);
}

// The temporary file goes through the writer's own handle on its folder,
// which reaches it even when the folder was moved meanwhile.
void Extraction::discardTemp(FileWork &f, EntryLog &log)
{
    const std::string name = f.tmp.name;
    if (!writer_.discard(f.tmp)) {
        std::string where;
        for (std::size_t i = 0; i + 1 < f.path.size(); ++i)
            where += f.path[i] + '/';
        log.item(msg::kTempLeft, where + name);
    }
    f.job.out = -1;
}

std::string Extraction::displayOf(const Entry &e, const DecodedPath &path)
{
    std::string display = path.display();
    if (display.empty())
        display = names_.decodeText(e.rawDir + e.rawName);
    if (display.empty())
        display = msg::kNoName;
    return display;
}

// Everything up to the decoding: the folder, the overwrite question and the
// temporary file. Runs on the extraction's thread, in archive order.
void Extraction::prepareFile(const Entry &e, const DecodedPath &path, const std::string &display, Pending &p)
{
    if (e.hasUnixMode) {
        const auto type = e.unixMode & S_IFMT;
        if (type == S_IFCHR || type == S_IFBLK || type == S_IFIFO || type == S_IFSOCK) {
            p.log.skipped(msg::kSkippedDevice, display);
            skipBytes(e);
            return;
        }
    }
    if (!methodSupported(e)) {
        p.log.fail(UNLHA_ERR_METHOD, format(msg::kCauseMethod, display, e.methodString()));
        skipBytes(e);
        return;
    }
    WriteError err = WriteError::None;
    int sysError = 0;
    const int dirFd = writer_.parentFolder(path.components, err, sysError);
    if (dirFd < 0) {
        skipBytes(e);
        p.next = writeFailure(p.log, display, err, sysError);
        return;
    }
    bool replace = false;
    switch (writer_.existing(dirFd, path.components.back())) {
    case 1:
        // An OS/2 folder's attributes meet their folder: nothing to say.
        if (e.osId != '2')
            p.log.skipped(msg::kSkippedFolderExists, display);
        skipBytes(e);
        return;
    case 2:
        switch (decideOverwrite(display)) {
        case Decision::Replace: replace = true; break;
        case Decision::Skip:
            skippedExisting(p.log, display);
            skipBytes(e);
            return;
        case Decision::Cancel:
            p.log.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled);
            p.next = Next::Stop;
            return;
        }
        break;
    default:
        break;
    }
    auto f = std::make_unique<FileWork>();
    if (!writer_.createTemp(dirFd, f->tmp, sysError)) {
        skipBytes(e);
        p.next = writeFailure(p.log, display, WriteError::Io, sysError);
        return;
    }
    f->entry = e;
    f->job.entry = &f->entry;
    f->job.out = f->tmp.fd;
    f->path = path.components;
    f->display = display;
    f->key = pathKey(path.components, path.components.size());
    f->replace = replace;
    p.file = std::move(f);
}

void Extraction::prepare(const Entry &e, const DecodedPath &path, std::string display, Pending &p)
{
    obs_.entry(display);
    p.isFile = e.kind == EntryKind::File;
    if (path.components.empty() && e.kind == EntryKind::Directory)
        return; // the destination itself
    if (path.components.empty()) {
        p.log.skipped(msg::kSkippedUnsafePath, display);
        skipBytes(e);
        return;
    }
    if (path.tooLong) {
        p.log.skipped(msg::kSkippedTooLong, display);
        skipBytes(e);
        return;
    }
    const bool os2Folder = e.kind == EntryKind::File && e.osId == '2' && !os2Folders_.empty()
                           && os2Folders_.count(pathKey(path.components, path.components.size()));
    if (os2Folder)
        skipBytes(e); // the folder's attributes: nothing to keep of them here
    if (e.kind == EntryKind::Directory || os2Folder) {
        bool created = false;
        WriteError err = WriteError::None;
        int sysError = 0;
        if (!writer_.makeFolder(path.components, created, err, sysError)) {
            p.next = writeFailure(p.log, display, err == WriteError::None ? WriteError::Io : err, sysError);
            return;
        }
        if (created) {
            if (!os2Folder)
                folders_.push_back(e.headerOffset);
            p.log.item(msg::kExtracted, display + '/');
        }
        return;
    }
    if (e.kind == EntryKind::Symlink) {
        // Links last, so that no file of this archive is written through one.
        links_.push_back(e.headerOffset);
        return;
    }
    prepareFile(e, path, display, p);
}

// Decoding on the extraction's own thread, with the writes on the pipe's.
void Extraction::decodeHere(FileWork &f)
{
    const Entry &e = *f.job.entry;
    DecodeResult &r = f.job.result;
    const uint64_t startDone = done_.load(std::memory_order_relaxed);
    pipe_->begin(f.job.out);
    const Sink sink = [&](const uint8_t *data, size_t len) {
        if (obs_.cancelled()) {
            r.cancelled = true;
            return false;
        }
        // More output than the header promised is damage, and must not fill the disk.
        if (len > e.originalSize - r.written) {
            r.written = e.originalSize + 1;
            return false;
        }
        // False once a write failed; end() below gives the reason.
        if (!pipe_->push(data, len))
            return false;
        r.written += len;
        done_.store(startDone + r.written, std::memory_order_relaxed);
        reportProgress();
        return true;
    };
    const Restart restart = [&] {
        pipe_->abandon();
        if (::ftruncate(f.job.out, 0) != 0 || ::lseek(f.job.out, 0, SEEK_SET) != 0)
            return false;
        pipe_->begin(f.job.out);
        r.written = 0;
        done_.store(startDone, std::memory_order_relaxed);
        reported_ = std::min(reported_, startDone);
        return true;
    };
    r.status = decoder_->decode(e, sink, restart);
    if (r.cancelled)
        pipe_->abandon();
    else
        pipe_->end(r.crc, r.writeError);
    // Damaged or not, a finished entry counts with all its bytes.
    if (!r.cancelled)
        done_.store(startDone + e.originalSize, std::memory_order_relaxed);
}

// A MacLHA file, checked against its CRC as decoded, keeps its data fork
// only. False with errno set when the file could not be rewritten.
bool keepMacDataFork(FileWork &f)
{
    const Entry &e = f.entry;
    uint8_t h[kMacBinaryHeader];
    if (e.originalSize < kMacBinaryHeader || ::pread(f.tmp.fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h))
        return true;
    const auto data = macLhaDataFork(h, e);
    return !data || keepDataFork(f.tmp.fd, *data);
}

// The outcome of a decoded file: checked, then given its name or removed.
void Extraction::completeFile(Pending &p)
{
    FileWork &f = *p.file;
    const Entry &e = *f.job.entry;
    const DecodeResult &r = f.job.result;
    WriteError err = WriteError::None;
    int sysError = 0;
    // The folder again from the writer, by its path: it may have been moved
    // or swapped for a link while the data was decoded.
    const int dirFd = writer_.parentFolder(f.path, err, sysError, true);
    if (dirFd < 0 || r.cancelled || r.writeError != 0) {
        discardTemp(f, p.log);
        if (dirFd < 0) {
            p.next = writeFailure(p.log, f.display, err == WriteError::None ? WriteError::Io : err, sysError);
        } else if (r.cancelled) {
            p.log.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled);
            p.next = Next::Stop;
        } else {
            p.next = writeFailure(p.log, f.display, WriteError::Io, r.writeError);
        }
        return;
    }
    const char *cause = nullptr;
    if (r.status == DecodeStatus::Method)
        p.log.fail(UNLHA_ERR_METHOD, format(msg::kCauseMethod, f.display, e.methodString()));
    else if (r.status == DecodeStatus::ReadError)
        cause = msg::kCauseDamagedData;
    else if (r.written != e.originalSize)
        cause = msg::kCauseSize;
    else if (r.crc != e.crc)
        cause = msg::kCauseCrc;
    else if (r.status != DecodeStatus::Ok)
        cause = msg::kCauseDamagedData;
    if (cause || r.status == DecodeStatus::Method) {
        discardTemp(f, p.log);
        if (cause)
            p.log.fail(UNLHA_ERR_DAMAGED, format(cause, f.display));
        return;
    }
    if (e.osId == 'm' && !keepMacDataFork(f)) {
        const int writeError = errno;
        discardTemp(f, p.log);
        p.next = writeFailure(p.log, f.display, WriteError::Io, writeError);
        return;
    }
    f.job.out = -1;
    err = writer_.commit(dirFd, f.tmp, f.path.back(), e.unixMode, e.hasUnixMode, e.mtime, e.hasMtime, f.replace,
                         sysError);
    if (f.tmp.live())
        discardTemp(f, p.log);
    if (err != WriteError::None) {
        p.next = writeFailure(p.log, f.display, err, sysError);
        return;
    }
    p.log.item(msg::kExtracted, f.display);
}

Next Extraction::finish(Pending &p)
{
    if (p.file)
        completeFile(p);
    p.log.replay(report_);
    if (p.isFile)
        obs_.filesDone(++filesDone_);
    return p.next;
}

// An entry taken up but not to be reported: its temporary file goes.
void Extraction::abandon(Pending &p)
{
    if (p.file && p.file->tmp.live()) {
        EntryLog log; // says only what could not be removed
        discardTemp(*p.file, log);
        log.replay(report_);
    }
}

bool Extraction::extractSequential(EntrySource &entries)
{
    decoder_ = makeDecoder(backend_, fd_);
    pipe_ = std::make_unique<OutputPipe>();
    Entry e;
    while (entries.next(e)) {
        if (obs_.cancelled()) {
            report_.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled);
            return false;
        }
        const DecodedPath path = names_.decodePath(e.rawDir, e.rawName);
        Pending p;
        prepare(e, path, displayOf(e, path), p);
        if (p.file)
            decodeHere(*p.file);
        reportProgress();
        if (finish(p) == Next::Stop)
            return false;
    }
    return true;
}

// Several entries are decoded at once while this thread takes up the next
// ones in archive order (names, folders, questions, temporary files) and
// reports and commits finished ones in archive order too, so the outcome is
// the one of the sequential loop.
bool Extraction::extractParallel(EntrySource &entries, int workers)
{
    DecodePool pool(backend_, fd_, workers, done_);
    // Enough entries ahead to keep every worker busy on small files; each
    // holds one open temporary file.
    const std::size_t ahead = static_cast<std::size_t>(std::min(64, 16 * workers));
    // Nor much more data than the workers need next: the name and count the
    // progress window shows stay close to what is really being decoded.
    constexpr uint64_t kAheadBytes = 8 * 1024 * 1024;
    uint64_t windowBytes = 0;
    std::deque<Pending> window;
    // Files of the window not yet committed: a later entry at or below one
    // of them must wait, as it would find the disk as the earlier one left it.
    std::unordered_multiset<std::string> uncommitted;
    // The next entry, read but not yet taken up.
    Entry e;
    bool haveNext = false;
    bool taking = true;
    bool cancelSeen = false;
    bool ok = true;

    auto headReady = [&] {
        return !window.empty() && (!window.front().file || window.front().file->job.done.load(std::memory_order_acquire));
    };
    for (;;) {
        while (headReady()) {
            Pending &p = window.front();
            if (p.file) {
                uncommitted.erase(uncommitted.find(p.file->key));
                windowBytes -= p.file->job.entry->originalSize;
            }
            const Next n = finish(p);
            window.pop_front();
            if (n == Next::Stop) {
                ok = false;
                break;
            }
        }
        if (!ok)
            break;
        if (!cancelSeen && obs_.cancelled()) {
            cancelSeen = true;
            pool.stop();
            // Whatever was decoded before is still reported; the first entry
            // cut short (or this one, if none was) ends the run.
            if (taking) {
                Pending c;
                c.log.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled);
                c.next = Next::Stop;
                window.push_back(std::move(c));
                taking = false;
            }
            continue;
        }
        reportProgress();
        if (taking && !haveNext)
            haveNext = entries.next(e);
        if (taking && !haveNext)
            taking = false;
        if (!taking && window.empty())
            break;
        if (taking && window.size() < ahead
            && (windowBytes < kAheadBytes || window.size() < static_cast<std::size_t>(2 * workers))) {
            const DecodedPath path = names_.decodePath(e.rawDir, e.rawName);
            bool depends = false;
            for (std::size_t i = 1; i <= path.components.size() && !depends && !uncommitted.empty(); ++i)
                depends = uncommitted.count(pathKey(path.components, i)) != 0;
            if (!depends) {
                haveNext = false;
                Pending p;
                prepare(e, path, displayOf(e, path), p);
                if (p.next == Next::Stop)
                    taking = false;
                if (p.file) {
                    uncommitted.insert(p.file->key);
                    windowBytes += e.originalSize;
                    pool.submit(&p.file->job);
                }
                window.push_back(std::move(p));
                continue;
            }
        }
        pool.waitFor(window.front().file->job, kPollInterval);
    }
    pool.stop();
    for (auto &p : window) {
        if (p.file)
            pool.waitFor(p.file->job, std::chrono::hours(1));
    }
    for (auto &p : window)
        abandon(p);
    return ok;
}

bool Extraction::useParallel(const Survey &survey) const
{
    // One entry that is most of the work gains nothing from more workers,
    // and decodes fastest with the writes overlapped on the pipe.
    return workers_ >= 2 && survey.files >= 2 && survey.largest <= survey.totalBytes / 4 * 3;
}

void Extraction::makeLinks()
{
    for (const uint64_t offset : links_) {
        Entry e;
        if (readHeader(fd_, fileSize_, offset, e) != HeaderStatus::Ok || e.kind != EntryKind::Symlink)
            continue; // the archive changed under us: leave it be
        const DecodedPath path = names_.decodePath(e.rawDir, e.rawName);
        if (path.components.empty() || path.tooLong)
            continue;
        const std::string display = displayOf(e, path);
        const std::string target = names_.decodeText(e.linkTarget);
        bool replace = false;
        WriteError err = WriteError::None;
        int sysError = 0;
        // Asked only after the target is known to be acceptable.
        const int dirFd = writer_.parentFolder(path.components, err, sysError);
        if (dirFd >= 0 && writer_.existing(dirFd, path.components.back()) == 2
            && writer_.linkStaysInside({path.components.begin(), path.components.end() - 1}, target)) {
            const Decision d = decideOverwrite(display);
            if (d == Decision::Cancel) {
                report_.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled);
                return;
            }
            if (d == Decision::Skip) {
                EntryLog log;
                skippedExisting(log, display);
                log.replay(report_);
                continue;
            }
            replace = true;
        }
        EntryLog log;
        err = writer_.makeLink(path.components, target, replace, sysError);
        const Next n = err == WriteError::None ? (log.item(msg::kExtracted, display), Next::Go)
                                               : writeFailure(log, display, err, sysError);
        log.replay(report_);
        if (n == Next::Stop)
            return;
    }
}

// Folder times last: creating their contents changed them. Innermost first,
// so that a folder made read-only does not bar the way to those inside it.
void Extraction::finishFolders()
{
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
        Entry e;
        if (readHeader(fd_, fileSize_, *it, e) != HeaderStatus::Ok || e.kind != EntryKind::Directory)
            continue;
        const DecodedPath path = names_.decodePath(e.rawDir, e.rawName);
        if (path.components.empty() || path.tooLong)
            continue;
        writer_.finishFolder(path.components, e.unixMode, e.hasUnixMode, e.mtime, e.hasMtime);
    }
}

int Extraction::run(const std::string &archiveName)
{
    if (fileSize_ == 0) {
        report_.fail(UNLHA_ERR_NOT_ARCHIVE, format(msg::kCauseEmptyFile, archiveName));
        return report_.result();
    }
    Survey survey(fd_, fileSize_, obs_, names_);
    os2Folders_ = std::move(survey.os2Folders);
    if (survey.cancelled) {
        report_.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled);
        return report_.result();
    }
    if (survey.status == ScanStatus::NotArchive) {
        report_.fail(UNLHA_ERR_NOT_ARCHIVE, format(msg::kCauseNotArchive, archiveName));
        return report_.result();
    }
    if (!writer_.open(destination_)) {
        report_.fail(UNLHA_ERR_WRITE, format(msg::kCauseWrite, destination_, systemErrorText(errno)));
        return report_.result();
    }
    backend_ = survey.libarchive ? Backend::Libarchive : Backend::Lhasa;
    obs_.begin(survey.totalBytes, static_cast<std::size_t>(survey.files));

    EntrySource entries(fd_, fileSize_, survey.firstOffset, survey.entries);
    const bool finished = useParallel(survey) ? extractParallel(entries, workers_) : extractSequential(entries);
    if (finished)
        makeLinks();
    finishFolders();

    if (survey.status == ScanStatus::Truncated) {
        if (survey.badEntryRawName.empty())
            report_.fail(UNLHA_ERR_DAMAGED, msg::kCauseTruncatedHeader);
        else
            report_.fail(UNLHA_ERR_DAMAGED,
                         format(msg::kCauseTruncated, names_.decodePath({}, survey.badEntryRawName).display()));
    } else if (survey.status == ScanStatus::Damaged || entries.changed()) {
        const std::string last = survey.entries == 0
                                     ? std::string()
                                     : names_.decodePath(survey.last.rawDir, survey.last.rawName).display();
        const std::string first = survey.entries == 0 && !survey.badEntryRawName.empty()
                                      ? names_.decodePath({}, survey.badEntryRawName).display()
                                      : std::string();
        report_.fail(UNLHA_ERR_DAMAGED, !last.empty()    ? format(msg::kCauseDamagedHeader, last)
                                        : !first.empty() ? format(msg::kCauseDamagedFirstEntry, first)
                                                         : std::string(msg::kCauseDamagedFirstHeader));
    }
    reportProgress(true);
    return report_.result();
}

std::string baseName(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int extractArchive(const std::string &archivePath, const std::string &destination, Observer &observer,
                   Report &report, int workers)
{
    const int fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        report.fail(UNLHA_ERR_NOT_ARCHIVE, format(msg::kCauseReadArchive, archivePath, systemErrorText(errno)));
        if (fd >= 0)
            ::close(fd);
        return report.result();
    }
    int result;
    {
        Extraction x(fd, static_cast<uint64_t>(st.st_size), destination, observer, report,
                     workers > 0 ? workers : defaultWorkerCount());
        result = x.run(baseName(archivePath));
    }
    ::close(fd);
    return result;
}

namespace {

std::string archiveCause(const Command &cmd, const std::string &text)
{
    const std::string &path = cmd.archive.empty() ? text : cmd.archive;
    switch (cmd.problem) {
    case ENOENT: return format(msg::kCauseNoArchive, path);
    case EISDIR: return format(msg::kCauseArchiveIsFolder, path);
    case EINVAL: return format(msg::kCauseArchiveNotFile, path);
    default: return format(msg::kCauseArchivePath, path, systemErrorText(cmd.problem));
    }
}

std::string destinationCause(const Command &cmd, const std::string &text)
{
    const std::string &path = cmd.destination.empty() ? text : cmd.destination;
    if (cmd.problem == ENOENT || cmd.problem == ENOTDIR)
        return format(msg::kCauseNoDestination, path);
    return format(msg::kCauseDestinationPath, path, systemErrorText(cmd.problem));
}

// A process made to end while a run goes on (the program's window system
// gone, exit() called from its thread) must not leave temporary files: the
// run is told to stop, is given a moment to clean up, then whatever it still
// holds is removed.
struct Runs {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
    std::atomic<bool> ending{false};
};

Runs &runs()
{
    static auto *r = new Runs; // used while the process exits; never destroyed
    return *r;
}

void endRunsAtExit()
{
    Runs &r = runs();
    r.ending.store(true);
    {
        std::unique_lock<std::mutex> lock(r.mutex);
        r.idle.wait_for(lock, std::chrono::seconds(2), [&r] { return r.running == 0; });
    }
    removeLiveTemps();
}

class RunGuard {
public:
    RunGuard()
    {
        static std::once_flag once;
        std::call_once(once, [] { std::atexit(endRunsAtExit); });
        std::lock_guard<std::mutex> lock(runs().mutex);
        ++runs().running;
    }
    ~RunGuard()
    {
        {
            std::lock_guard<std::mutex> lock(runs().mutex);
            --runs().running;
        }
        runs().idle.notify_all();
    }
};

// The caller's observer, with a stop when the process is ending.
class EndingAware : public Observer {
public:
    explicit EndingAware(Observer &inner) : inner_(inner) {}
    void begin(uint64_t totalBytes, std::size_t fileCount) override { inner_.begin(totalBytes, fileCount); }
    void entry(const std::string &name) override { inner_.entry(name); }
    void filesDone(std::size_t count) override { inner_.filesDone(count); }
    void progress(uint64_t bytesDone) override { inner_.progress(bytesDone); }
    OverwriteAnswer askOverwrite(const std::string &path) override
    {
        return cancelled() ? OverwriteAnswer::Cancel : inner_.askOverwrite(path);
    }
    bool asksUser() const override { return inner_.asksUser(); }
    bool cancelled() const override { return runs().ending.load(std::memory_order_relaxed) || inner_.cancelled(); }

private:
    Observer &inner_;
};

} // namespace

int runCommand(uintptr_t ownerWindow, const char *command, char *output, uint32_t outputSize)
{
    // No more of the report is kept than the caller has room for.
    Report report(output ? outputSize : 0);
    Command cmd;
    const std::string text = command ? command : "";
    switch (parseCommand(text, cmd)) {
    case CommandError::None:
        break;
    case CommandError::Syntax:
        report.fail(UNLHA_ERR_COMMAND, format(msg::kCauseCommand, text));
        break;
    case CommandError::NoArchive:
        report.fail(UNLHA_ERR_COMMAND, archiveCause(cmd, text));
        break;
    case CommandError::NoDestination:
        report.fail(UNLHA_ERR_COMMAND, destinationCause(cmd, text));
        break;
    }
    if (report.result() != 0) {
        report.write(output, outputSize);
        return report.result();
    }
    RunGuard guard;
    const auto work = [&](Observer &obs) {
        EndingAware aware(obs);
        return extractArchive(cmd.archive, cmd.destination, aware, report);
    };
    int result = -1;
    if (ownerWindow != 0)
        result = runUnderOwner(ownerWindow, baseName(cmd.archive), work);
    if (result == -1) {
        Observer quiet;
        result = work(quiet);
    }
    report.write(output, outputSize);
    return result;
}

} // namespace unlha
