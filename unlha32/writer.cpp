// The safe writer's folders: the destination opened once, every path walked
// from it without following a link, the walked folders kept open (within a
// budget of descriptors) for the next entries; links checked to stay inside;
// folder times set once their contents are written.
#include "unlha32/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace unlha {
namespace {

// A folder below the destination, never one reached through a link.
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

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

bool SafeWriter::dropIdle(int err)
{
    if (err != EMFILE && err != ENFILE)
        return false;
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
    if (fd < 0 && dropIdle(errno))
        fd = ::openat(dirFd, name, flags, mode);
    return fd;
}

void SafeWriter::noteCreated(const struct stat &st)
{
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

    int fd = root_.fd();
    bool own = false;
    for (size_t i = 0; i < count; ++i) {
        const char *c = path[i].c_str();
        int next = openAt(fd, c, kFolderFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd, c, 0777) == 0) {
                next = openAt(fd, c, kFolderFlags);
                struct stat st;
                if (next >= 0 && ::fstat(next, &st) == 0)
                    noteCreated(st);
            } else if (errno == EEXIST) {
                next = openAt(fd, c, kFolderFlags);
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
        noteCreated(st);
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

bool SafeWriter::linkStaysInside(const std::vector<std::string> &linkDir, const std::string &target)
{
    if (target.empty() || target[0] == '/')
        return false;
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
                const int next = openAt(at.fd(), stack[atDepth].c_str(), kFolderFlags);
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
    if (hasMtime)
        setMtime(folder.fd(), mtime);
}

void SafeWriter::setMtime(int fd, int64_t mtime)
{
    timespec ts[2] = {{0, UTIME_OMIT}, {}};
    ts[1].tv_sec = static_cast<time_t>(mtime);
    (void)::futimens(fd, ts);
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
