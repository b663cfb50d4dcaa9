#include "unlha32/extract.h"

#include "unlha32/command.h"
#include "unlha32/decoder.h"
#include "unlha32/lzhheader.h"
#include "unlha32/messages.h"
#include "unlha32/names.h"
#include "unlha32/outputpipe.h"
#include "unlha32/ownerui.h"
#include "unlha32/unlha32.h"
#include "unlha32/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace unlha {
namespace {

constexpr uint64_t kProgressStep = 64 * 1024;

struct PendingLink {
    std::vector<std::string> path;
    std::string display;
    std::string target;
    bool replace;
};

struct PendingFolder {
    std::vector<std::string> path;
    const Entry *entry;
};

class Extraction {
public:
    Extraction(int fd, const std::string &destination, Observer &obs, Report &report)
        : fd_(fd), destination_(destination), obs_(obs), report_(report)
    {
    }

    int run(uint64_t fileSize, const std::string &archiveName);

private:
    enum class Next { Go, Stop };
    enum class Decision { Replace, Skip, Cancel };

    Decision decideOverwrite(const std::string &display);
    Next extractFile(const Entry &e, const DecodedPath &path, const std::string &display);
    Next writeFailure(const std::string &display, WriteError err, int sysError);
    void cancel() { report_.fail(UNLHA_ERR_CANCELLED, msg::kCauseCancelled); }
    void advance(uint64_t bytes)
    {
        done_ += bytes;
        if (done_ - reported_ >= kProgressStep) {
            reported_ = done_;
            obs_.progress(done_);
        }
    }

    int fd_;
    std::string destination_;
    Observer &obs_;
    Report &report_;
    SafeWriter writer_;
    NameDecoder names_;
    std::unique_ptr<EntryDecoder> decoder_;
    OutputPipe pipe_;
    bool replaceAll_ = false;
    bool skipAll_ = false;
    uint64_t done_ = 0;
    uint64_t reported_ = 0;
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

Extraction::Next Extraction::writeFailure(const std::string &display, WriteError err, int sysError)
{
    switch (err) {
    case WriteError::Unsafe:
        report_.skipped(msg::kSkippedUnsafePath, display);
        return Next::Go;
    case WriteError::DirExists:
        report_.skipped(msg::kSkippedFolderExists, display);
        return Next::Go;
    case WriteError::Exists:
        report_.skipped(msg::kSkippedExists, display);
        return Next::Go;
    case WriteError::LinkOutside:
        report_.skipped(msg::kSkippedLinkOutside, display);
        return Next::Go;
    case WriteError::Io:
    case WriteError::None:
        break;
    }
    report_.fail(UNLHA_ERR_WRITE, format(msg::kCauseWrite, display, systemErrorText(sysError)));
    // A full disk or a read-only folder fails every following entry too.
    return Next::Stop;
}

Extraction::Next Extraction::extractFile(const Entry &e, const DecodedPath &path, const std::string &display)
{
    const uint64_t startDone = done_;
    auto skipBytes = [&] { advance(startDone + e.originalSize - done_); };

    if (e.hasUnixMode) {
        const auto type = e.unixMode & S_IFMT;
        if (type == S_IFCHR || type == S_IFBLK || type == S_IFIFO || type == S_IFSOCK) {
            report_.skipped(msg::kSkippedDevice, display);
            skipBytes();
            return Next::Go;
        }
    }
    if (!methodSupported(e)) {
        report_.fail(UNLHA_ERR_METHOD, format(msg::kCauseMethod, display, e.methodString()));
        skipBytes();
        return Next::Go;
    }
    WriteError err = WriteError::None;
    int sysError = 0;
    const int dirFd = writer_.parentFolder(path.components, err, sysError);
    if (dirFd < 0) {
        skipBytes();
        return writeFailure(display, err, sysError);
    }
    const std::string &name = path.components.back();
    bool replace = false;
    switch (writer_.existing(dirFd, name)) {
    case 1:
        report_.skipped(msg::kSkippedFolderExists, display);
        skipBytes();
        return Next::Go;
    case 2:
        switch (decideOverwrite(display)) {
        case Decision::Replace: replace = true; break;
        case Decision::Skip:
            report_.skipped(msg::kSkippedExists, display);
            skipBytes();
            return Next::Go;
        case Decision::Cancel:
            cancel();
            return Next::Stop;
        }
        break;
    default:
        break;
    }

    std::string tmp;
    const int out = writer_.createTemp(dirFd, tmp, sysError);
    if (out < 0) {
        skipBytes();
        return writeFailure(display, WriteError::Io, sysError);
    }
    uint64_t written = 0;
    bool cancelled = false;
    pipe_.begin(out);
    const Sink sink = [&](const uint8_t *data, size_t len) {
        if (obs_.cancelled()) {
            cancelled = true;
            return false;
        }
        // More output than the header promised is damage, and must not fill the disk.
        if (len > e.originalSize - written) {
            written = e.originalSize + 1;
            return false;
        }
        // False once a write failed; end() below gives the reason.
        if (!pipe_.push(data, len))
            return false;
        written += len;
        advance(written + startDone - done_);
        return true;
    };
    const Restart restart = [&] {
        pipe_.abandon();
        if (::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0)
            return false;
        pipe_.begin(out);
        written = 0;
        done_ = startDone;
        reported_ = std::min(reported_, done_);
        return true;
    };
    const DecodeStatus st = decoder_->decode(e, sink, restart);
    uint16_t crc = 0;
    int writeErrno = 0;
    if (cancelled)
        pipe_.abandon();
    else
        pipe_.end(crc, writeErrno);
    if (cancelled || writeErrno != 0) {
        writer_.discard(dirFd, out, tmp);
        if (cancelled) {
            cancel();
            return Next::Stop;
        }
        return writeFailure(display, WriteError::Io, writeErrno);
    }
    const char *cause = nullptr;
    if (st == DecodeStatus::Method)
        report_.fail(UNLHA_ERR_METHOD, format(msg::kCauseMethod, display, e.methodString()));
    else if (st == DecodeStatus::ReadError)
        cause = msg::kCauseDamagedData;
    else if (written != e.originalSize)
        cause = msg::kCauseSize;
    else if (crc != e.crc)
        cause = msg::kCauseCrc;
    else if (st != DecodeStatus::Ok)
        cause = msg::kCauseDamagedData;
    if (cause || st == DecodeStatus::Method) {
        writer_.discard(dirFd, out, tmp);
        if (cause)
            report_.fail(UNLHA_ERR_DAMAGED, format(cause, display));
        skipBytes();
        return Next::Go;
    }
    err = writer_.commit(dirFd, out, tmp, name, e.unixMode, e.hasUnixMode, e.mtime, e.hasMtime, replace, sysError);
    if (err != WriteError::None)
        return writeFailure(display, err, sysError);
    report_.item(msg::kExtracted, display);
    return Next::Go;
}

int Extraction::run(uint64_t fileSize, const std::string &archiveName)
{
    if (fileSize == 0) {
        report_.fail(UNLHA_ERR_NOT_ARCHIVE, format(msg::kCauseEmptyFile, archiveName));
        return report_.result();
    }
    const ScanResult scan = scanArchive(fd_, fileSize);
    if (scan.status == ScanStatus::NotArchive) {
        report_.fail(UNLHA_ERR_NOT_ARCHIVE, format(msg::kCauseNotArchive, archiveName));
        return report_.result();
    }
    if (!writer_.open(destination_)) {
        report_.fail(UNLHA_ERR_WRITE, format(msg::kCauseWrite, destination_, systemErrorText(errno)));
        return report_.result();
    }
    decoder_ = makeDecoder(chooseBackend(scan.entries), fd_);

    uint64_t total = 0;
    for (const auto &e : scan.entries)
        if (e.kind == EntryKind::File)
            total += e.originalSize;
    obs_.begin(total, scan.entries.size());

    std::vector<PendingLink> links;
    std::vector<PendingFolder> folders;
    bool stopped = false;
    for (const auto &e : scan.entries) {
        if (obs_.cancelled()) {
            cancel();
            stopped = true;
            break;
        }
        const DecodedPath path = names_.decodePath(e.rawDir, e.rawName);
        std::string display = path.display();
        if (display.empty())
            display = names_.decodeText(e.rawDir + e.rawName);
        obs_.entry(display);
        if (path.components.empty() && e.kind == EntryKind::Directory)
            continue; // the destination itself
        if (path.components.empty()) {
            report_.skipped(msg::kSkippedUnsafePath, display);
            advance(e.kind == EntryKind::File ? e.originalSize : 0);
            continue;
        }
        if (path.tooLong) {
            report_.skipped(msg::kSkippedTooLong, display);
            advance(e.kind == EntryKind::File ? e.originalSize : 0);
            continue;
        }
        if (e.kind == EntryKind::Directory) {
            bool created = false;
            WriteError err = WriteError::None;
            int sysError = 0;
            if (!writer_.makeFolder(path.components, created, err, sysError)) {
                if (writeFailure(display, err == WriteError::Unsafe ? err : WriteError::Io, sysError) == Next::Stop) {
                    stopped = true;
                    break;
                }
                continue;
            }
            if (created) {
                folders.push_back({path.components, &e});
                report_.item(msg::kExtracted, display + '/');
            }
            continue;
        }
        if (e.kind == EntryKind::Symlink) {
            // Links last, so that no file of this archive is written through one.
            links.push_back({path.components, display, names_.decodeText(e.linkTarget), false});
            continue;
        }
        if (extractFile(e, path, display) == Next::Stop) {
            stopped = true;
            break;
        }
    }

    if (!stopped) {
        for (auto &l : links) {
            WriteError err = WriteError::None;
            int sysError = 0;
            // Asked only after the target is known to be acceptable.
            const int dirFd = writer_.parentFolder(l.path, err, sysError);
            if (dirFd >= 0 && writer_.existing(dirFd, l.path.back()) == 2
                && writer_.linkStaysInside({l.path.begin(), l.path.end() - 1}, l.target)) {
                const Decision d = decideOverwrite(l.display);
                if (d == Decision::Cancel) {
                    cancel();
                    break;
                }
                l.replace = d == Decision::Replace;
            }
            err = writer_.makeLink(l.path, l.target, l.replace, sysError);
            if (err == WriteError::None) {
                report_.item(msg::kExtracted, l.display);
            } else if (writeFailure(l.display, err, sysError) == Next::Stop) {
                break;
            }
        }
    }
    // Folder times last: creating their contents changed them.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        writer_.finishFolder(it->path, it->entry->unixMode, it->entry->hasUnixMode, it->entry->mtime,
                             it->entry->hasMtime);

    if (scan.status == ScanStatus::Truncated) {
        if (scan.badEntryRawName.empty())
            report_.fail(UNLHA_ERR_DAMAGED, msg::kCauseTruncatedHeader);
        else
            report_.fail(UNLHA_ERR_DAMAGED,
                         format(msg::kCauseTruncated, names_.decodePath({}, scan.badEntryRawName).display()));
    } else if (scan.status == ScanStatus::Damaged) {
        const std::string last = scan.entries.empty()
                                     ? std::string()
                                     : names_.decodePath(scan.entries.back().rawDir, scan.entries.back().rawName).display();
        report_.fail(UNLHA_ERR_DAMAGED,
                     last.empty() ? std::string(msg::kCauseDamagedFirstHeader) : format(msg::kCauseDamagedHeader, last));
    }
    obs_.progress(done_);
    return report_.result();
}

std::string baseName(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int extractArchive(const std::string &archivePath, const std::string &destination, Observer &observer,
                   Report &report)
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
        Extraction x(fd, destination, observer, report);
        result = x.run(static_cast<uint64_t>(st.st_size), baseName(archivePath));
    }
    ::close(fd);
    return result;
}

int runCommand(uintptr_t ownerWindow, const char *command, char *output, uint32_t outputSize)
{
    Report report;
    Command cmd;
    const std::string text = command ? command : "";
    switch (parseCommand(text, cmd)) {
    case CommandError::None:
        break;
    case CommandError::Syntax:
        report.fail(UNLHA_ERR_COMMAND, format(msg::kCauseCommand, text));
        break;
    case CommandError::NoArchive:
        report.fail(UNLHA_ERR_COMMAND, format(msg::kCauseNoArchive, cmd.archive.empty() ? text : cmd.archive));
        break;
    case CommandError::NoDestination:
        report.fail(UNLHA_ERR_COMMAND, format(msg::kCauseNoDestination, cmd.destination.empty() ? text : cmd.destination));
        break;
    }
    if (report.result() != 0) {
        report.write(output, outputSize);
        return report.result();
    }
    const auto work = [&](Observer &obs) { return extractArchive(cmd.archive, cmd.destination, obs, report); };
    int result = -1;
    if (ownerWindow != 0)
        result = runWithOwner(ownerWindow, baseName(cmd.archive), work);
    if (result == -1) {
        Observer quiet;
        result = work(quiet);
    }
    report.write(output, outputSize);
    return result;
}

} // namespace unlha
