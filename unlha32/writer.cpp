#include "unlha32/writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace unlha {
namespace {

constexpr size_t kMaxCachedFolders = 64;


timespec toTimespec(int64_t t)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t);
    return ts;
}

// The temporary files of this process, by the writer's own folder handle,
// for removeLiveTemps(). Never destroyed: it is used while the process exits.
struct LiveTemps {
    std::mutex mutex;
    std::unordered_map<int, std::string> byDir;
    bool closed = false;
};

LiveTemps &liveTemps()
{
    static auto *t = new LiveTemps;
    return *t;
}

// The process id in a temporary name, 0 when it is not one of ours.
pid_t tempOwner(const char *name)
{
    const size_t prefix = std::strlen(kTempPrefix);
    if (std::strncmp(name, kTempPrefix, prefix) != 0)
        return 0;
    char *end = nullptr;
    const long pid = std::strtol(name + prefix, &end, 10);
    if (pid <= 0 || end == name + prefix || *end != '-' || std::strlen(end) != 1 + 12 + 4
        || std::strcmp(end + 13, ".tmp") != 0)
        return 0;
    return static_cast<pid_t>(pid);
}

bool processGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

void removeLiveTemps()
{
    LiveTemps &live = liveTemps();
    std::lock_guard<std::mutex> lock(live.mutex);
    live.closed = true;
    for (const auto &[dirFd, name] : live.byDir)
        ::unlinkat(dirFd, name.c_str(), 0);
}

mode_t currentUmask()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
    }
    return 022;
}

SafeWriter::~SafeWriter()
{
    clearCache();
    if (rootFd_ >= 0)
        ::close(rootFd_);
}

void SafeWriter::clearCache()
{
    for (auto &kv : cache_)
        ::close(kv.second);
    cache_.clear();
}

bool SafeWriter::open(const std::string &destPath)
{
    // The destination itself may be reached through links (the user chose
    // it); only what lies below it is guarded.
    rootFd_ = ::open(destPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    umask_ = currentUmask();
    if (rootFd_ < 0)
        return false;
    sweep(rootFd_);
    return true;
}

int SafeWriter::walk(const std::vector<std::string> &path, size_t count, bool create, WriteError &err, int &sysError,
                     bool fresh)
{
    err = WriteError::None;
    if (count == 0)
        return rootFd_;
    const std::string key = pathKey(path, count);
    if (auto it = cache_.find(key); it != cache_.end()) {
        if (!fresh)
            return it->second;
        ::close(it->second);
        cache_.erase(it);
    }
    if (cache_.size() >= kMaxCachedFolders)
        clearCache();

    int fd = rootFd_;
    bool own = false;
    for (size_t i = 0; i < count; ++i) {
        const char *c = path[i].c_str();
        int next = ::openat(fd, c, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd, c, 0777) < 0 && errno != EEXIST) {
                sysError = errno;
                err = WriteError::Io;
            } else {
                next = ::openat(fd, c, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }
        }
        if (next < 0 && err == WriteError::None) {
            sysError = errno;
            // A link or a file where a folder should be: never go through it.
            // (O_DIRECTORY makes a link fail with ENOTDIR, as a file does.)
            struct stat st;
            const bool file = errno == ENOTDIR && ::fstatat(fd, c, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode);
            err = file ? WriteError::FileInWay
                  : (sysError == ELOOP || sysError == ENOTDIR) ? WriteError::Unsafe
                                                               : WriteError::Io;
        }
        if (own)
            ::close(fd);
        if (next < 0)
            return -1;
        fd = next;
        own = true;
    }
    // Temporary files go only into folders walked to for a file; a fresh
    // walk finds one already swept.
    if (!fresh)
        sweep(fd);
    cache_.emplace(key, fd);
    return fd;
}

int SafeWriter::parentFolder(const std::vector<std::string> &path, WriteError &err, int &sysError, bool fresh)
{
    return walk(path, path.empty() ? 0 : path.size() - 1, true, err, sysError, fresh);
}

bool SafeWriter::makeFolder(const std::vector<std::string> &path, bool &created, WriteError &err, int &sysError)
{
    created = false;
    const int parent = parentFolder(path, err, sysError);
    if (parent < 0)
        return false;
    if (::mkdirat(parent, path.back().c_str(), 0777) == 0) {
        created = true;
    } else if (errno != EEXIST) {
        sysError = errno;
        err = WriteError::Io;
        return false;
    }
    return walk(path, path.size(), false, err, sysError) >= 0;
}

SafeWriter::Existing SafeWriter::existing(int dirFd, const std::string &name) const
{
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Existing::Nothing;
    return S_ISDIR(st.st_mode) ? Existing::Folder : Existing::Other;
}

bool SafeWriter::destinationUsable() const
{
    struct stat st;
    return ::fstat(rootFd_, &st) == 0 && st.st_nlink > 0 && ::faccessat(rootFd_, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

void SafeWriter::sweep(int dirFd)
{
    struct stat st;
    if (::fstat(dirFd, &st) != 0 || !swept_.insert((static_cast<uint64_t>(st.st_dev) << 40) ^ st.st_ino).second)
        return;
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR *d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return;
    }
    const pid_t self = ::getpid();
    while (const dirent *ent = ::readdir(d)) {
        const pid_t owner = tempOwner(ent->d_name);
        // Only files of processes that are gone: another run may be writing
        // into the same folder right now.
        if (owner != 0 && owner != self && processGone(owner))
            ::unlinkat(dirFd, ent->d_name, 0);
    }
    ::closedir(d);
}

bool SafeWriter::createTemp(int dirFd, TempFile &tmp, int &sysError)
{
    static std::atomic<uint64_t> counter{0};
    const auto seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const pid_t pid = ::getpid();
    LiveTemps &live = liveTemps();
    const int ownDir = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (ownDir < 0) {
        sysError = errno;
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        char buf[64];
        const uint64_t v = seed ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
        std::snprintf(buf, sizeof buf, "%s%d-%012llx.tmp", kTempPrefix, static_cast<int>(pid),
                      static_cast<unsigned long long>(v & 0xFFFFFFFFFFFFULL));
        std::unique_lock<std::mutex> lock(live.mutex);
        if (live.closed)
            break; // the process is ending
        // Private until finished; the real mode is set before the rename.
        // Readable too, for the rare file rewritten once decoded.
        const int fd = ::openat(dirFd, buf, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            live.byDir.emplace(ownDir, buf);
            tmp.fd = fd;
            tmp.dirFd = ownDir;
            tmp.name = buf;
            return true;
        }
        if (errno != EEXIST) {
            sysError = errno;
            ::close(ownDir);
            return false;
        }
    }
    ::close(ownDir);
    sysError = EEXIST;
    return false;
}

bool SafeWriter::discard(TempFile &tmp)
{
    if (!tmp.live())
        return true;
    const bool gone = ::unlinkat(tmp.dirFd, tmp.name.c_str(), 0) == 0 || errno == ENOENT;
    if (!gone) {
        // A folder turned read-only keeps the name; at least the space goes.
        if (tmp.fd >= 0) {
            (void)!::ftruncate(tmp.fd, 0);
        } else {
            const int fd = ::openat(tmp.dirFd, tmp.name.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        }
    }
    release(tmp);
    return gone;
}

int SafeWriter::placeName(const TempFile &tmp, int dirFd, const std::string &name, bool replace)
{
    // The temporary file is reached through its own folder handle: if that
    // folder was moved, the file still goes to the path checked just now.
    const int fromDir = tmp.dirFd;
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
    const int claim = ::openat(dirFd, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
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

WriteError SafeWriter::place(const TempFile &tmp, int dirFd, const std::string &name, bool replace, int &sysError)
{
    if (placeName(tmp, dirFd, name, replace) == 0)
        return WriteError::None;
    sysError = errno;
    return sysError == EEXIST                                 ? WriteError::Exists
           : (sysError == EISDIR || sysError == ENOTEMPTY) ? WriteError::DirExists
                                                             : WriteError::Io;
}

WriteError SafeWriter::commit(int dirFd, TempFile &tmp, const std::string &name, uint32_t mode, bool hasMode,
                              int64_t mtime, bool hasMtime, bool replace, int &sysError)
{
    // Never set-id or sticky bits, whatever the archive says. FAT and NTFS
    // sticks keep no modes and some FUSE file systems no times: the data
    // counts, these are kept where the file system can.
    const mode_t m = hasMode ? (mode & 0777) : defaultFileMode();
    (void)::fchmod(tmp.fd, m);
    if (hasMtime) {
        const timespec ts[2] = {{0, UTIME_OMIT}, toTimespec(mtime)};
        (void)::futimens(tmp.fd, ts);
    }
    const int fd = tmp.fd;
    tmp.fd = -1;
    // On failure the temporary file stays for the caller's discard(), which
    // says whether its name could be removed.
    if (::close(fd) != 0) {
        sysError = errno;
        return WriteError::Io;
    }
    const WriteError err = place(tmp, dirFd, name, replace, sysError);
    if (err == WriteError::None)
        release(tmp);
    return err;
}

void SafeWriter::release(TempFile &tmp)
{
    if (tmp.fd >= 0)
        ::close(tmp.fd);
    if (tmp.dirFd >= 0) {
        LiveTemps &live = liveTemps();
        std::lock_guard<std::mutex> lock(live.mutex);
        live.byDir.erase(tmp.dirFd);
        ::close(tmp.dirFd);
    }
    tmp.fd = -1;
    tmp.dirFd = -1;
}

bool SafeWriter::linkStaysInside(const std::vector<std::string> &linkDir, const std::string &target)
{
    if (target.empty() || target[0] == '/')
        return false;
    std::vector<std::string> stack = linkDir;
    size_t start = 0;
    while (start <= target.size()) {
        size_t end = target.find('/', start);
        if (end == std::string::npos)
            end = target.size();
        const std::string c = target.substr(start, end - start);
        start = end + 1;
        if (c.empty() || c == ".")
            continue;
        if (c == "..") {
            if (stack.empty())
                return false;
            // ".." after a name only means its parent when that name is a
            // real folder; through a link it could lead anywhere.
            WriteError err;
            int sysError = 0;
            if (walk(stack, stack.size(), false, err, sysError) < 0)
                return false;
            stack.pop_back();
            continue;
        }
        stack.push_back(c);
    }
    return true;
}

WriteError SafeWriter::makeLink(const std::vector<std::string> &path, const std::string &target, bool replace,
                                int &sysError)
{
    WriteError err;
    const int dirFd = parentFolder(path, err, sysError);
    if (dirFd < 0)
        return err;
    const std::vector<std::string> linkDir(path.begin(), path.end() - 1);
    if (!linkStaysInside(linkDir, target))
        return WriteError::LinkOutside;
    const Existing what = existing(dirFd, path.back());
    if (what == Existing::Folder)
        return WriteError::DirExists;
    if (what == Existing::Other && !replace)
        return WriteError::Exists;
    for (int attempt = 0; attempt < 100; ++attempt) {
        TempFile tmp;
        if (!createTemp(dirFd, tmp, sysError))
            return WriteError::Io;
        // Reserve a unique name, then put the link in its place.
        ::close(tmp.fd);
        tmp.fd = -1;
        ::unlinkat(dirFd, tmp.name.c_str(), 0);
        if (::symlinkat(target.c_str(), dirFd, tmp.name.c_str()) != 0) {
            sysError = errno;
            release(tmp); // whatever took the name is not ours
            if (sysError == EEXIST)
                continue;
            return WriteError::Io;
        }
        const WriteError err = place(tmp, dirFd, path.back(), replace, sysError);
        if (err == WriteError::None)
            release(tmp);
        else
            discard(tmp);
        return err;
    }
    sysError = EEXIST;
    return WriteError::Io;
}

void SafeWriter::finishFolder(const std::vector<std::string> &path, uint32_t mode, bool hasMode, int64_t mtime,
                              bool hasMtime)
{
    WriteError err;
    int sysError = 0;
    const int fd = walk(path, path.size(), false, err, sysError);
    if (fd < 0)
        return;
    // The owner keeps full access so that the folder's contents stay usable.
    if (hasMode)
        ::fchmod(fd, (mode & 0777) | 0700);
    if (hasMtime) {
        const timespec ts[2] = {{0, UTIME_OMIT}, toTimespec(mtime)};
        ::futimens(fd, ts);
    }
}

std::string pathKey(const std::vector<std::string> &path, std::size_t count)
{
    std::string k;
    for (std::size_t i = 0; i < count; ++i) {
        k += path[i];
        k += '/';
    }
    return k;
}

} // namespace unlha
