#include "unlha32/writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

namespace unlha {
namespace {

timespec toTimespec(int64_t t)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t);
    return ts;
}

// The named temporary files of this process, for removeLiveTemps(). Plain
// static data without constructors or destructors: it works while the
// process exits, whatever has been destroyed by then, and leaves nothing
// behind when the library is unloaded. A full table refuses new temporary
// files as a process out of descriptors would: the run waits for files in
// flight or stops with that cause.
struct LiveTemp {
    bool used;
    int dirFd;
    char name[64];
};
std::mutex liveMutex;
LiveTemp liveTemps[kMaxNamedTemps];
bool liveClosed = false;

// The key of the temporary names' tags: this machine's identity, which an
// archive made elsewhere does not know. Without one, no name is provably
// ours and none is ever removed by a sweep.
struct TagKey {
    uint64_t k0 = 0, k1 = 0;
    bool machine = false;
};

bool readMachineId(const char *path, TagKey &key)
{
    std::ifstream in(path);
    std::string id;
    if (!(in >> id) || id.size() != 32)
        return false;
    uint64_t half[2] = {0, 0};
    for (size_t i = 0; i < 32; ++i) {
        const char c = id[i];
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0)
            return false;
        half[i / 16] = half[i / 16] << 4 | static_cast<uint64_t>(v);
    }
    key.k0 = half[0];
    key.k1 = half[1];
    key.machine = true;
    return true;
}

const TagKey &tagKey()
{
    static const TagKey key = [] {
        TagKey k;
        if (!readMachineId("/etc/machine-id", k) && !readMachineId("/var/lib/dbus/machine-id", k)) {
            // Names stay unique; they are only never taken for leftovers.
            k.k0 = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
            k.k1 = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ULL;
        }
        return k;
    }();
    return key;
}

uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

// SipHash-2-4 of two 64-bit words: a tag that cannot be made without the key.
uint64_t keyedHash(const TagKey &key, uint64_t a, uint64_t b)
{
    uint64_t v0 = 0x736f6d6570736575ULL ^ key.k0;
    uint64_t v1 = 0x646f72616e646f6dULL ^ key.k1;
    uint64_t v2 = 0x6c7967656e657261ULL ^ key.k0;
    uint64_t v3 = 0x7465646279746573ULL ^ key.k1;
    const auto round = [&] {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    };
    for (const uint64_t m : {a, b, uint64_t{16} << 56}) {
        v3 ^= m;
        round();
        round();
        v0 ^= m;
    }
    v2 ^= 0xff;
    for (int i = 0; i < 4; ++i)
        round();
    return v0 ^ v1 ^ v2 ^ v3;
}

bool processGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool outOfDescriptors(int err)
{
    return err == EMFILE || err == ENFILE;
}

uint64_t nextRandom()
{
    static std::atomic<uint64_t> counter{0};
    const auto seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return seed ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
}

} // namespace

std::string tempName(pid_t pid, uint64_t random)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%d-%016llx-%016llx.tmp", kTempPrefix, static_cast<int>(pid),
                  static_cast<unsigned long long>(random),
                  static_cast<unsigned long long>(keyedHash(tagKey(), static_cast<uint64_t>(pid), random)));
    return buf;
}

pid_t tempOwner(const char *name)
{
    const size_t prefix = std::strlen(kTempPrefix);
    if (std::strncmp(name, kTempPrefix, prefix) != 0 || !tagKey().machine)
        return 0;
    char *end = nullptr;
    errno = 0;
    const long pid = std::strtol(name + prefix, &end, 10);
    if (errno != 0 || pid <= 0 || pid > 0x7FFFFFFF || *end != '-')
        return 0;
    const unsigned long long random = std::strtoull(end + 1, &end, 16);
    if (errno != 0 || *end != '-')
        return 0;
    // The whole name again, tag included, exactly as this machine writes it.
    return tempName(static_cast<pid_t>(pid), random) == name ? static_cast<pid_t>(pid) : 0;
}

void removeLiveTemps()
{
    std::lock_guard<std::mutex> lock(liveMutex);
    liveClosed = true;
    for (const LiveTemp &t : liveTemps) {
        if (t.used)
            ::unlinkat(t.dirFd, t.name, 0);
    }
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

Folder::Open::~Open()
{
    if (fd >= 0)
        ::close(fd);
}

bool SafeWriter::open(const std::string &destPath)
{
    // The destination itself may be reached through links (the user chose
    // it); only what lies below it is guarded.
    const int fd = ::open(destPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    umask_ = currentUmask();
    if (fd < 0)
        return false;
    root_ = Folder(fd);
    // Unnamed files get their name through /proc; without it (a bare
    // container) every file is written under a temporary name.
    unnamedTemps_ = ::access("/proc/self/fd", X_OK) == 0;
    sweep(fd);
    return true;
}

void SafeWriter::setFolderLimit(std::size_t n)
{
    folderLimit_ = std::clamp<std::size_t>(n, 1, kMaxCachedFolders);
    // Held ones go when they are next met beyond the limit.
    while (cache_.size() > folderLimit_ && evictOne()) {
    }
}

bool SafeWriter::evictOne()
{
    auto victim = cache_.end();
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
        if (!it->second.folder.held() && (victim == cache_.end() || it->second.used < victim->second.used))
            victim = it;
    }
    if (victim == cache_.end())
        return false;
    cache_.erase(victim);
    return true;
}

void SafeWriter::remember(const std::string &key, const Folder &folder)
{
    if (cache_.size() < folderLimit_ || evictOne())
        cache_.emplace(key, Cached{folder, ++clock_});
}

bool SafeWriter::dropIdle()
{
    bool dropped = false;
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (it->second.folder.held()) {
            ++it;
        } else {
            it = cache_.erase(it);
            dropped = true;
        }
    }
    return dropped;
}

int SafeWriter::openAt(int dirFd, const char *name, int flags, mode_t mode)
{
    int fd = ::openat(dirFd, name, flags, mode);
    if (fd < 0 && outOfDescriptors(errno) && dropIdle())
        fd = ::openat(dirFd, name, flags, mode);
    return fd;
}

void SafeWriter::noteCreated(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) == 0)
        created_.insert({st.st_dev, st.st_ino});
}

bool SafeWriter::createdHere(const struct stat &st) const
{
    return created_.count({st.st_dev, st.st_ino}) != 0;
}

Folder SafeWriter::walk(const std::vector<std::string> &path, size_t count, bool create, WriteError &err,
                        int &sysError, bool fresh)
{
    err = WriteError::None;
    if (count == 0)
        return root_;
    const std::string key = pathKey(path, count);
    if (auto it = cache_.find(key); it != cache_.end()) {
        if (!fresh) {
            it->second.used = ++clock_;
            return it->second.folder;
        }
        cache_.erase(it); // whoever holds it keeps it
    }

    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = root_.fd();
    bool own = false;
    for (size_t i = 0; i < count; ++i) {
        const char *c = path[i].c_str();
        int next = openAt(fd, c, kFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd, c, 0777) == 0) {
                next = openAt(fd, c, kFlags);
                if (next >= 0)
                    noteCreated(next);
            } else if (errno == EEXIST) {
                next = openAt(fd, c, kFlags);
            } else {
                sysError = errno;
                err = WriteError::Io;
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
            return {};
        fd = next;
        own = true;
    }
    const Folder folder(fd);
    // Temporary files go only into folders walked to for a file; a fresh
    // walk finds one already swept.
    if (!fresh)
        sweep(fd);
    remember(key, folder);
    return folder;
}

Folder SafeWriter::parentFolder(const std::vector<std::string> &path, WriteError &err, int &sysError, bool fresh)
{
    return walk(path, path.empty() ? 0 : path.size() - 1, true, err, sysError, fresh);
}

bool SafeWriter::makeFolder(const std::vector<std::string> &path, bool &created, WriteError &err, int &sysError)
{
    created = false;
    const Folder parent = parentFolder(path, err, sysError);
    if (!parent)
        return false;
    const char *name = path.back().c_str();
    const bool made = ::mkdirat(parent.fd(), name, 0777) == 0;
    struct stat st;
    if ((!made && errno != EEXIST) || ::fstatat(parent.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        sysError = errno;
        err = WriteError::Io;
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        sysError = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
        err = S_ISLNK(st.st_mode) ? WriteError::Unsafe : WriteError::FileInWay;
        return false;
    }
    if (made)
        created_.insert({st.st_dev, st.st_ino});
    // A folder that earlier files of this run made is the archive's too.
    created = made || createdHere(st);
    return true;
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
    const int fd = root_.fd();
    return ::fstat(fd, &st) == 0 && st.st_nlink > 0 && ::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

bool SafeWriter::outOfSpace(uint64_t needed) const
{
    struct statvfs vs;
    if (::fstatvfs(root_.fd(), &vs) != 0)
        return false;
    const uint64_t block = vs.f_frsize ? vs.f_frsize : vs.f_bsize;
    return static_cast<uint64_t>(vs.f_bavail) * block < std::max<uint64_t>(needed, block);
}

void SafeWriter::sweep(int dirFd)
{
    struct stat st;
    if (::fstat(dirFd, &st) != 0 || swept_.count({st.st_dev, st.st_ino}))
        return;
    const int fd = openAt(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // another time
    DIR *d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return;
    }
    swept_.insert({st.st_dev, st.st_ino});
    const pid_t self = ::getpid();
    while (const dirent *ent = ::readdir(d)) {
        if (ent->d_type == DT_DIR)
            continue;
        const pid_t owner = tempOwner(ent->d_name);
        // Only files of processes that are gone: another run may be writing
        // into the same folder right now.
        if (owner != 0 && owner != self && processGone(owner))
            ::unlinkat(dirFd, ent->d_name, 0);
    }
    ::closedir(d);
}

bool SafeWriter::claimName(int dirFd, Claim what, const char *source, TempFile &tmp, int &sysError)
{
    const pid_t pid = ::getpid();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = tempName(pid, nextRandom());
        // Made and recorded at once: a process ending meanwhile removes it.
        std::lock_guard<std::mutex> lock(liveMutex);
        if (liveClosed) {
            sysError = ECANCELED; // the process is ending
            return false;
        }
        const auto slot = std::find_if(std::begin(liveTemps), std::end(liveTemps),
                                       [](const LiveTemp &t) { return !t.used; });
        if (slot == std::end(liveTemps)) {
            sysError = EMFILE;
            return false;
        }
        int fd = -1;
        int r = -1;
        switch (what) {
        case Claim::File:
            // Private until finished; the real mode is set before the rename.
            // Readable too, for the rare file rewritten once decoded.
            r = fd = openAt(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            break;
        case Claim::Symlink: r = ::symlinkat(source, dirFd, name.c_str()); break;
        case Claim::HardLink: r = ::linkat(AT_FDCWD, source, dirFd, name.c_str(), AT_SYMLINK_FOLLOW); break;
        }
        if (r >= 0) {
            slot->used = true;
            slot->dirFd = dirFd;
            std::snprintf(slot->name, sizeof slot->name, "%s", name.c_str());
            tmp.fd = fd;
            tmp.name = name;
            tmp.slot = static_cast<int>(slot - std::begin(liveTemps));
            return true;
        }
        if (errno != EEXIST) {
            sysError = errno;
            return false;
        }
    }
    sysError = EEXIST;
    return false;
}

bool SafeWriter::createTemp(const Folder &dir, TempFile &tmp, int &sysError)
{
    if (unnamedTemps_) {
        const int fd = openAt(dir.fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            tmp.fd = fd;
            return true;
        }
        // FUSE file systems (NTFS, FAT and exFAT sticks), network shares and
        // old kernels have none: a temporary name instead.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) {
            sysError = errno;
            return false;
        }
    }
    return createNamedTemp(dir, tmp, sysError);
}

bool SafeWriter::createNamedTemp(const Folder &dir, TempFile &tmp, int &sysError)
{
    if (!claimName(dir.fd(), Claim::File, nullptr, tmp, sysError))
        return false;
    tmp.dir = dir;
    return true;
}

bool SafeWriter::discard(TempFile &tmp)
{
    if (!tmp.live())
        return true;
    if (!tmp.named()) {
        release(tmp); // an unnamed file goes with its descriptor
        return true;
    }
    const bool gone = ::unlinkat(tmp.dir.fd(), tmp.name.c_str(), 0) == 0 || errno == ENOENT;
    if (!gone) {
        // A folder turned read-only keeps the name; at least the space goes.
        if (tmp.fd >= 0) {
            (void)!::ftruncate(tmp.fd, 0);
        } else {
            const int fd = ::openat(tmp.dir.fd(), tmp.name.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
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

int SafeWriter::linkUnnamed(TempFile &tmp, int dirFd, const std::string &name, bool replace)
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
    // A later run would take a file of that name for one of ours left behind.
    if (tempOwner(name.c_str()) != 0)
        return WriteError::Unsafe;
    // Never set-id or sticky bits, whatever the archive says. FAT and NTFS
    // sticks keep no modes and some FUSE file systems no times: the data
    // counts, these are kept where the file system can.
    const mode_t m = hasMode ? (mode & 0777) : defaultFileMode();
    (void)::fchmod(tmp.fd, m);
    if (hasMtime) {
        const timespec ts[2] = {{0, UTIME_OMIT}, toTimespec(mtime)};
        (void)::futimens(tmp.fd, ts);
    }
    if (!tmp.named()) {
        // Data a file system could not keep shows when a descriptor closes
        // (network shares, FUSE). Closing this one would lose the file, so
        // a second one is closed before the file gets its name.
        int probe = ::fcntl(tmp.fd, F_DUPFD_CLOEXEC, 0);
        if (probe < 0 && outOfDescriptors(errno) && dropIdle())
            probe = ::fcntl(tmp.fd, F_DUPFD_CLOEXEC, 0);
        if (probe < 0 || ::close(probe) != 0) {
            sysError = errno;
            return WriteError::Io;
        }
        if (linkUnnamed(tmp, dirFd, name, replace) != 0) {
            sysError = errno;
            return sysError == EEXIST                                 ? WriteError::Exists
                   : (sysError == EISDIR || sysError == ENOTEMPTY) ? WriteError::DirExists
                                                                     : WriteError::Io;
        }
        release(tmp);
        return WriteError::None;
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
    if (tmp.slot >= 0) {
        // Forgotten before its folder may be closed.
        std::lock_guard<std::mutex> lock(liveMutex);
        liveTemps[tmp.slot].used = false;
    }
    tmp.fd = -1;
    tmp.slot = -1;
    tmp.dir = Folder();
    tmp.name.clear();
}

bool SafeWriter::linkStaysInside(const std::vector<std::string> &linkDir, const std::string &target)
{
    if (target.empty() || target[0] == '/')
        return false;
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    std::vector<std::string> stack = linkDir;
    // The first `known` components of the stack are real folders: at first
    // those the writer walked to the link's folder. `at` is open on the
    // first `atDepth` of them, once one is needed.
    size_t known = stack.size();
    Folder at;
    size_t atDepth = 0;
    size_t start = 0;
    while (start <= target.size()) {
        size_t end = target.find('/', start);
        if (end == std::string::npos)
            end = target.size();
        const std::string c = target.substr(start, end - start);
        start = end + 1;
        if (c.empty() || c == ".")
            continue;
        if (c != "..") {
            stack.push_back(c);
            continue;
        }
        if (stack.empty())
            return false;
        if (known < stack.size()) {
            // ".." after a name only means its parent when that name is a
            // real folder; through a link it could lead anywhere. Checked
            // from the deepest real folder known, one step at a time, so
            // that a long target costs steps, not walks from the top.
            if (!at) {
                WriteError err;
                int sysError = 0;
                at = walk(stack, known, false, err, sysError);
                atDepth = known;
                if (!at)
                    return false;
            }
            for (; atDepth > known; --atDepth) {
                if (atDepth == 1) {
                    at = root_;
                    continue;
                }
                const int up = openAt(at.fd(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (up < 0)
                    return false;
                at = Folder(up);
            }
            for (; atDepth < stack.size(); ++atDepth) {
                const int next = openAt(at.fd(), stack[atDepth].c_str(), kFlags);
                if (next < 0)
                    return false;
                at = Folder(next);
            }
        }
        stack.pop_back();
        known = stack.size();
    }
    return true;
}

WriteError SafeWriter::makeLink(const std::vector<std::string> &path, const std::string &target, bool replace,
                                int &sysError)
{
    WriteError err;
    const Folder dir = parentFolder(path, err, sysError);
    if (!dir)
        return err;
    if (tempOwner(path.back().c_str()) != 0)
        return WriteError::Unsafe;
    const std::vector<std::string> linkDir(path.begin(), path.end() - 1);
    if (!linkStaysInside(linkDir, target))
        return WriteError::LinkOutside;
    const Existing what = existing(dir.fd(), path.back());
    if (what == Existing::Folder)
        return WriteError::DirExists;
    if (what == Existing::Other && !replace)
        return WriteError::Exists;
    // Made under a temporary name, then put in its place.
    TempFile tmp;
    if (!claimName(dir.fd(), Claim::Symlink, target.c_str(), tmp, sysError))
        return WriteError::Io;
    tmp.dir = dir;
    err = place(tmp, dir.fd(), path.back(), replace, sysError);
    if (err == WriteError::None)
        release(tmp);
    else
        discard(tmp);
    return err;
}

void SafeWriter::finishFolder(const std::vector<std::string> &path, uint32_t mode, bool hasMode, int64_t mtime,
                              bool hasMtime)
{
    WriteError err;
    int sysError = 0;
    const Folder folder = walk(path, path.size(), false, err, sysError);
    if (!folder)
        return;
    // The owner keeps full access so that the folder's contents stay usable.
    if (hasMode)
        ::fchmod(folder.fd(), (mode & 0777) | 0700);
    if (hasMtime) {
        const timespec ts[2] = {{0, UTIME_OMIT}, toTimespec(mtime)};
        ::futimens(folder.fd(), ts);
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
