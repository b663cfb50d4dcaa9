// A finished temporary file, or a new link, given its real name: in one
// step, never over a name it is not to replace, on file systems that lack a
// rename which refuses to replace (FUSE) as on those that have one.
#include "unlha32/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace unlha {

WriteError SafeWriter::commit(int dirFd, TempFile &tmp, const std::string &name, uint32_t mode, bool hasMode,
                              int64_t mtime, bool hasMtime, bool replace, int &sysError)
{
    // A later run would take a file of that name for one of ours left behind.
    if (tempOwner(name.c_str()) != 0)
        return WriteError::Unsafe;
    // Never set-id or sticky bits, whatever the archive says. FAT and NTFS
    // sticks keep no modes and some FUSE file systems no times: the data
    // counts, these are kept where the file system can.
    const mode_t m = hasMode ? (mode & 0777) : defaultFileMode();
    (void)::fchmod(tmp.fd, m);
    if (hasMtime)
        setMtime(tmp.fd, mtime);
    if (tmp.named()) {
        const int fd = tmp.fd;
        tmp.fd = -1;
        // On failure the temporary file stays for the caller's discard(),
        // which says whether its name could be removed.
        if (::close(fd) != 0) {
            sysError = errno;
            return WriteError::Io;
        }
    } else {
        // Data a file system could not keep shows when a descriptor closes
        // (network shares, FUSE). Closing this one would lose the file, so
        // a second one is closed before the file gets its name.
        int probe = ::fcntl(tmp.fd, F_DUPFD_CLOEXEC, 0);
        if (probe < 0 && dropIdle(errno))
            probe = ::fcntl(tmp.fd, F_DUPFD_CLOEXEC, 0);
        if (probe < 0 || ::close(probe) != 0) {
            sysError = errno;
            return WriteError::Io;
        }
    }
    const WriteError err = place(tmp, dirFd, name, replace, sysError);
    if (err == WriteError::None)
        release(tmp);
    return err;
}

WriteError SafeWriter::place(const TempFile &tmp, int dirFd, const std::string &name, bool replace, int &sysError)
{
    const int r = tmp.named() ? placeName(tmp, dirFd, name, replace) : linkUnnamed(tmp, dirFd, name, replace);
    if (r == 0)
        return WriteError::None;
    sysError = errno;
    return sysError == EEXIST                                 ? WriteError::Exists
           : (sysError == EISDIR || sysError == ENOTEMPTY) ? WriteError::DirExists
                                                             : WriteError::Io;
}

int SafeWriter::placeName(const TempFile &tmp, int dirFd, const std::string &name, bool replace)
{
    // The temporary file is reached through its own folder handle: if that
    // folder was moved, the file still goes to the path checked just now.
    const int fromDir = tmp.dir.fd();
    const char *from = tmp.name.c_str();
    const char *to = name.c_str();
    if (replace)
        return ::renameat(fromDir, from, dirFd, to);
    if (::renameat2(fromDir, from, dirFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    // FUSE file systems (NTFS through ntfs-3g, FAT and exFAT sticks) and
    // some network shares refuse the flag.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    // A hard link fails, like the flag, when the name exists.
    if (::linkat(fromDir, from, dirFd, to, 0) == 0) {
        ::unlinkat(fromDir, from, 0);
        return 0;
    }
    if (errno == EEXIST)
        return -1;
    // No links either (FAT): claim the name with an empty file of our own,
    // which fails when the name exists, then rename over that file only.
    const int claim = openAt(dirFd, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (claim < 0)
        return -1;
    struct stat mine;
    const bool known = ::fstat(claim, &mine) == 0;
    ::close(claim);
    struct stat now;
    if (!known || ::fstatat(dirFd, to, &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_ino != mine.st_ino
        || now.st_dev != mine.st_dev) {
        errno = EEXIST; // someone else's file took the name meanwhile
        return -1;
    }
    if (::renameat(fromDir, from, dirFd, to) == 0)
        return 0;
    const int err = errno;
    ::unlinkat(dirFd, to, 0);
    errno = err;
    return -1;
}

int SafeWriter::linkUnnamed(const TempFile &tmp, int dirFd, const std::string &name, bool replace)
{
    // Linking through /proc needs no privilege (AT_EMPTY_PATH would), and
    // fails, like the flag of a rename, when the name exists.
    char from[48];
    std::snprintf(from, sizeof from, "/proc/self/fd/%d", tmp.fd);
    if (!replace)
        return ::linkat(AT_FDCWD, from, dirFd, name.c_str(), AT_SYMLINK_FOLLOW);
    // A file is replaced in one step only by a rename: the file gets a
    // temporary name first. A process killed between the two leaves that
    // name, which the next run into this folder removes.
    TempFile named;
    int sysError = 0;
    if (!claimName(dirFd, Claim::HardLink, from, named, sysError)) {
        errno = sysError;
        return -1;
    }
    const int r = ::renameat(dirFd, named.name.c_str(), dirFd, name.c_str());
    const int err = errno;
    if (r != 0)
        ::unlinkat(dirFd, named.name.c_str(), 0);
    release(named);
    errno = err;
    return r;
}

} // namespace unlha
