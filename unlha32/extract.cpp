#include "unlha32/extract.h"

#include "unlha32/extraction.h"
#include "unlha32/messages.h"
#include "unlha32/unlha32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace unlha {

void Extraction::makeLinks()
{
    HeaderSource headers(fd_, fileSize_);
    for (const uint64_t offset : links_) {
        Entry e;
        if (readHeader(headers, offset, e) != HeaderStatus::Ok || e.kind != EntryKind::Symlink)
            continue; // the archive changed under us: leave it be
        const DecodedPath path = names_.decodePath(e);
        if (path.components.empty() || path.tooLong)
            continue;
        const std::string display = displayOf(e, path);
        const std::string target = names_.decodeText(e.linkTarget);
        if (target.empty()) {
            // A link whose target was not stored: only this entry is lost.
            EntryLog log;
            log.skipped(msg::kSkippedLinkNoTarget, display);
            log.replay(report_);
            continue;
        }
        bool replace = false;
        WriteError err = WriteError::None;
        int sysError = 0;
        // Asked only after the target is known to be acceptable.
        const Folder dir = writer_.parentFolder(path.components, err, sysError);
        if (dir && writer_.existing(dir.fd(), path.components.back()) == SafeWriter::Existing::Other
            && writer_.linkStaysInside({path.components.begin(), path.components.end() - 1}, target)) {
            // The same path twice: the later entry stands, a file of this
            // run after the link as much as a link after a file of it.
            if (const auto earlier = placedByThisRun(dir.fd(), path.components.back())) {
                if (*earlier > e.headerOffset)
                    continue;
                replace = true;
            } else {
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
        }
        EntryLog log;
        err = writer_.makeLink(path.components, target, replace, sysError);
        if (err == WriteError::None && repeats_.mayRepeat(PathRepeats::hash(e))) {
            struct stat st;
            if (dir && ::fstatat(dir.fd(), path.components.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                notePlaced(e, st);
        }
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
    HeaderSource headers(fd_, fileSize_);
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
        Entry e;
        if (readHeader(headers, *it, e) != HeaderStatus::Ok)
            continue;
        const DecodedPath path = names_.decodePath(e);
        if (!storedAsFolder(e, path) || path.components.empty() || path.tooLong)
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
    // Every name of this run, links and folder times too, in the one
    // encoding that all of the archive's names agree on.
    names_.setEncoding(survey.encoding);
    os2Folders_ = std::move(survey.os2Folders);
    repeats_ = std::move(survey.repeats);
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
    fitDescriptors();
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
                                     : names_.decodePath(survey.last).display();
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
    // Closed however the run ends: out of memory, it ends by an exception
    // that the entry point turns into a result.
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    Extraction x(fd, static_cast<uint64_t>(st.st_size), destination, observer, report,
                 workers > 0 ? workers : defaultWorkerCount());
    return x.run(baseName(archivePath));
}

} // namespace unlha
