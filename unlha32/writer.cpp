#include "unlha32/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace unlha {
namespace {

constexpr size_t kMaxCachedFolders = 64;

std::string joinKey(const std::vector<std::string> &path, size_t count)
{
    std::string k;
    for (size_t i = 0; i < count; ++i) {
        k += path[i];
        k += '/';
    }
    return k;
}

timespec toTimespec(int64_t t)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t);
    return ts;
}

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
    return rootFd_ >= 0;
}

int SafeWriter::walk(const std::vector<std::string> &path, size_t count, bool create, WriteError &err, int &sysError)
{
    err = WriteError::None;
    if (count == 0)
        return rootFd_;
    const std::string key = joinKey(path, count);
    if (auto it = cache_.find(key); it != cache_.end())
        return it->second;
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
            err = (errno == ELOOP || errno == ENOTDIR) ? WriteError::Unsafe : WriteError::Io;
        }
        if (own)
            ::close(fd);
        if (next < 0)
            return -1;
        fd = next;
        own = true;
    }
    cache_.emplace(key, fd);
    return fd;
}

int SafeWriter::parentFolder(const std::vector<std::string> &path, WriteError &err, int &sysError)
{
    return walk(path, path.empty() ? 0 : path.size() - 1, true, err, sysError);
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

int SafeWriter::existing(int dirFd, const std::string &name) const
{
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    return S_ISDIR(st.st_mode) ? 1 : 2;
}

int SafeWriter::createTemp(int dirFd, std::string &tmpName, int &sysError)
{
    static std::atomic<uint64_t> counter{0};
    const auto seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char buf[64];
        const uint64_t v = seed ^ (static_cast<uint64_t>(getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
        std::snprintf(buf, sizeof buf, ".unlha-%012llx.tmp", static_cast<unsigned long long>(v & 0xFFFFFFFFFFFFULL));
        // Private until finished; the real mode is set before the rename.
        const int fd = ::openat(dirFd, buf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            tmpName = buf;
            return fd;
        }
        if (errno != EEXIST) {
            sysError = errno;
            return -1;
        }
    }
    sysError = EEXIST;
    return -1;
}

void SafeWriter::discard(int dirFd, int fd, const std::string &tmpName)
{
    if (fd >= 0)
        ::close(fd);
    ::unlinkat(dirFd, tmpName.c_str(), 0);
}

WriteError SafeWriter::commit(int dirFd, int fd, const std::string &tmpName, const std::string &name, uint32_t mode,
                              bool hasMode, int64_t mtime, bool hasMtime, bool replace, int &sysError)
{
    // Never set-id or sticky bits, whatever the archive says.
    const mode_t m = hasMode ? (mode & 0777) : defaultFileMode();
    bool ok = ::fchmod(fd, m) == 0;
    if (ok && hasMtime) {
        const timespec ts[2] = {{0, UTIME_OMIT}, toTimespec(mtime)};
        ok = ::futimens(fd, ts) == 0;
    }
    if (!ok) {
        sysError = errno;
        discard(dirFd, fd, tmpName);
        return WriteError::Io;
    }
    if (::close(fd) != 0) {
        sysError = errno;
        ::unlinkat(dirFd, tmpName.c_str(), 0);
        return WriteError::Io;
    }
    const int r = replace ? ::renameat(dirFd, tmpName.c_str(), dirFd, name.c_str())
                          : ::renameat2(dirFd, tmpName.c_str(), dirFd, name.c_str(), RENAME_NOREPLACE);
    if (r != 0) {
        sysError = errno;
        ::unlinkat(dirFd, tmpName.c_str(), 0);
        if (sysError == EEXIST)
            return WriteError::Exists;
        if (sysError == EISDIR || sysError == ENOTEMPTY)
            return WriteError::DirExists;
        return WriteError::Io;
    }
    return WriteError::None;
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
    const int what = existing(dirFd, path.back());
    if (what == 1)
        return WriteError::DirExists;
    if (what == 2 && !replace)
        return WriteError::Exists;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string tmp;
        const int fd = createTemp(dirFd, tmp, sysError);
        if (fd < 0)
            return WriteError::Io;
        // Reserve a unique name, then put the link in its place.
        ::close(fd);
        ::unlinkat(dirFd, tmp.c_str(), 0);
        if (::symlinkat(target.c_str(), dirFd, tmp.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            sysError = errno;
            return WriteError::Io;
        }
        const int r = replace ? ::renameat(dirFd, tmp.c_str(), dirFd, path.back().c_str())
                              : ::renameat2(dirFd, tmp.c_str(), dirFd, path.back().c_str(), RENAME_NOREPLACE);
        if (r != 0) {
            sysError = errno;
            ::unlinkat(dirFd, tmp.c_str(), 0);
            return sysError == EEXIST ? WriteError::Exists
                   : (sysError == EISDIR || sysError == ENOTEMPTY) ? WriteError::DirExists
                                                                  : WriteError::Io;
        }
        return WriteError::None;
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

} // namespace unlha
