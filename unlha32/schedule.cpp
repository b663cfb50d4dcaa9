#include "unlha32/extraction.h"

#include "unlha32/messages.h"
#include "unlha32/unlha32.h"

#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <deque>

namespace unlha {
namespace {

// How often the extraction's thread looks at cancel and progress while the
// workers decode.
constexpr std::chrono::milliseconds kPollInterval{20};

// Descriptors the process may still open; a great many when unlimited.
std::size_t spareDescriptors()
{
    rlimit rl{};
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY)
        return 1 << 20;
    std::size_t open = 0;
    if (DIR *d = ::opendir("/proc/self/fd")) {
        while (const dirent *ent = ::readdir(d))
            open += ent->d_name[0] != '.';
        ::closedir(d);
        open = open > 0 ? open - 1 : 0; // the listing's own
    } else {
        open = 16; // a guess; running short only makes the run wait
    }
    return rl.rlim_cur > open ? static_cast<std::size_t>(rl.rlim_cur - open) : 0;
}

} // namespace

void Extraction::fitDescriptors()
{
    const std::size_t spare = spareDescriptors();
    // A quarter for the kept folders; the rest, less what one file at a
    // time needs, for files in flight, each with its temporary file and,
    // where the file system has no unnamed ones, its folder.
    const std::size_t folders = std::clamp<std::size_t>(spare / 4, 1, kMaxCachedFolders);
    writer_.setFolderLimit(folders);
    const std::size_t rest = spare > folders + kFewestDescriptors ? spare - folders - kFewestDescriptors : 0;
    filesInFlight_ = std::clamp<std::size_t>(rest / 2, 1, kMaxFilesInFlight);
}

// Decoding on the extraction's own thread, with the writes on the pipe's.
void Extraction::decodeHere(FileWork &f)
{
    f.job.result = decodeEntry(
        *decoder_, *f.job.entry, f.job.out, *pipe_, [this] { return obs_.cancelled(); }, done_, [this] {
            // After a start over the bar goes back to where this entry began.
            reported_ = std::min(reported_, done_.load(std::memory_order_relaxed));
            reportProgress();
        });
}

bool Extraction::extractSequential(EntrySource &entries)
{
    decoder_ = makeDecoder(fd_);
    pipe_ = std::make_unique<OutputPipe>();
    Entry e;
    while (entries.next(e)) {
        if (obs_.cancelled()) {
            report_.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled);
            return false;
        }
        const DecodedPath path = names_.decodePath(e);
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
    DecodePool pool(fd_, workers, done_);
    // No thread to spare: the same run, one entry after the other.
    if (pool.workers() == 0)
        return extractSequential(entries);
    // Enough entries ahead to keep every worker busy on small files; each
    // holds one open temporary file.
    std::size_t ahead = std::min(filesInFlight_, static_cast<std::size_t>(16 * workers));
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
            const DecodedPath path = names_.decodePath(e);
            bool depends = false;
            for (std::size_t i = 1; i <= path.components.size() && !depends && !uncommitted.empty(); ++i)
                depends = uncommitted.count(pathKey(path.components, i)) != 0;
            if (!depends) {
                Pending p;
                mayWait_ = !uncommitted.empty();
                prepare(e, path, displayOf(e, path), p);
                mayWait_ = false;
                if (p.again) {
                    // Out of descriptors: fewer files in flight from now on,
                    // and this entry again once the first of them is done.
                    ahead = std::max<std::size_t>(1, window.size());
                    continue;
                }
                haveNext = false;
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

} // namespace unlha
