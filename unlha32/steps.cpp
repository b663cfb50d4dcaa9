#include "unlha32/extraction.h"

#include "unlha32/macbinary.h"
#include "unlha32/messages.h"
#include "unlha32/methods.h"
#include "unlha32/unlha32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace unlha {

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

Next Extraction::writeFailure(EntryLog &log, const std::string &display, WriteError err, int sysError,
                              uint64_t needed)
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
    // Some file systems (FAT through FUSE) refuse writes onto a full disk as
    // "not permitted": the free space tells which it was.
    if ((sysError == EPERM || sysError == EACCES) && writer_.outOfSpace(needed))
        sysError = ENOSPC;
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

// Out of descriptors while files are in flight: nothing is done, and the
// entry is taken up again once some of them are done, with the answer
// already given about it.
bool Extraction::waitInstead(int sysError, const Entry &e, std::optional<bool> answer, Pending &p)
{
    if ((sysError != EMFILE && sysError != ENFILE) || !mayWait_)
        return false;
    p.again = true;
    retryOffset_ = e.headerOffset;
    retryAnswer_ = answer;
    return true;
}

std::optional<uint64_t> Extraction::placedByThisRun(int dirFd, const std::string &name) const
{
    struct stat st;
    if (placed_.empty() || ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    const auto it = placed_.find({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
    if (it == placed_.end())
        return std::nullopt;
    return it->second;
}

void Extraction::notePlaced(const Entry &e, const struct stat &st)
{
    placed_[{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}] = e.headerOffset;
}

// Everything up to the decoding: the folder, the overwrite question and the
// temporary file. Runs on the extraction's thread, in archive order.
// `answer` is the overwrite answer given when the entry was first taken up.
void Extraction::prepareFile(const Entry &e, const DecodedPath &path, const std::string &display,
                             std::optional<bool> answer, Pending &p)
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
        p.log.failEntry(UNLHA_ERR_METHOD, msg::kCauseMethod, display, e.methodString());
        skipBytes(e);
        return;
    }
    WriteError err = WriteError::None;
    int sysError = 0;
    const Folder dir = writer_.parentFolder(path.components, err, sysError);
    if (!dir) {
        if (err == WriteError::Io && waitInstead(sysError, e, answer, p))
            return;
        skipBytes(e);
        p.next = writeFailure(p.log, display, err, sysError, e.originalSize);
        return;
    }
    bool replace = false;
    switch (writer_.existing(dir.fd(), path.components.back())) {
    case SafeWriter::Existing::Folder:
        // An OS/2 folder's attributes meet their folder: nothing to say.
        if (e.osId != '2')
            p.log.skipped(msg::kSkippedFolderExists, display);
        skipBytes(e);
        return;
    case SafeWriter::Existing::Other:
        // What this run wrote for an earlier copy of the same path: the
        // later copy wins, as with every other archiver, without a question.
        if (placedByThisRun(dir.fd(), path.components.back())) {
            replace = true;
            break;
        }
        switch (answer ? (*answer ? Decision::Replace : Decision::Skip) : decideOverwrite(display)) {
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
    case SafeWriter::Existing::Nothing:
        break;
    }
    auto f = std::make_unique<FileWork>();
    if (!writer_.createTemp(dir, f->tmp, sysError)) {
        if (waitInstead(sysError, e, replace, p))
            return;
        skipBytes(e);
        p.next = writeFailure(p.log, display, WriteError::Io, sysError, e.originalSize);
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
    const bool again = retryOffset_ == e.headerOffset;
    const std::optional<bool> answer = again ? retryAnswer_ : std::nullopt;
    retryOffset_ = kNoEntry;
    retryAnswer_.reset();
    if (!again)
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
    const bool os2Folder = e.kind == EntryKind::File && !os2Folders_.empty() && os2Folders_.count(e.headerOffset);
    if (os2Folder)
        skipBytes(e); // the folder's attributes: nothing to keep of them here
    if (storedAsFolder(e, path) || os2Folder) {
        bool created = false;
        WriteError err = WriteError::None;
        int sysError = 0;
        if (!writer_.makeFolder(path.components, created, err, sysError)) {
            if (err == WriteError::Io && waitInstead(sysError, e, std::nullopt, p))
                return;
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
    prepareFile(e, path, display, answer, p);
}

namespace {

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

} // namespace

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
    const Folder dir = writer_.parentFolder(f.path, err, sysError, true);
    if (!dir || r.cancelled || r.writeError != 0) {
        discardTemp(f, p.log);
        if (!dir) {
            p.next = writeFailure(p.log, f.display, err == WriteError::None ? WriteError::Io : err, sysError);
        } else if (r.cancelled) {
            p.log.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled);
            p.next = Next::Stop;
        } else {
            p.next = writeFailure(p.log, f.display, WriteError::Io, r.writeError, e.originalSize);
        }
        return;
    }
    const char *cause = nullptr;
    if (r.status == DecodeStatus::Method)
        p.log.failEntry(UNLHA_ERR_METHOD, msg::kCauseMethod, f.display, e.methodString());
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
            p.log.failEntry(UNLHA_ERR_DAMAGED, cause, f.display);
        return;
    }
    if (e.osId == 'm' && !keepMacDataFork(f)) {
        const int writeError = errno;
        discardTemp(f, p.log);
        p.next = writeFailure(p.log, f.display, WriteError::Io, writeError, e.originalSize);
        return;
    }
    f.job.out = -1;
    // Which file this is, for a later copy of a path the archive may repeat.
    struct stat placed{};
    const bool mayRepeat = repeats_.mayRepeat(PathRepeats::hash(e)) && ::fstat(f.tmp.fd, &placed) == 0;
    err = writer_.commit(dir.fd(), f.tmp, f.path.back(), e.unixMode, e.hasUnixMode, e.mtime, e.hasMtime, f.replace,
                         sysError);
    if (err == WriteError::None && mayRepeat)
        notePlaced(e, placed);
    if (f.tmp.live())
        discardTemp(f, p.log);
    if (err != WriteError::None) {
        p.next = writeFailure(p.log, f.display, err, sysError, e.originalSize);
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

} // namespace unlha
