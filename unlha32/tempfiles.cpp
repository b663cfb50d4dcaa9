// Temporary files: created unnamed where the file system allows, under a
// name of this machine's making otherwise; the sweep that removes what dead
// processes left under such names; the table of this process's own, removed
// when it is made to end.
#include "unlha32/tempfiles.h"

#include "unlha32/writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
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

uint64_t nextRandom()
{
    static std::atomic<uint64_t> counter{0};
    const auto seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return seed ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
}

bool processGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
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

namespace {

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

} // namespace

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

void removeLiveTemps()
{
    std::lock_guard<std::mutex> lock(liveMutex);
    liveClosed = true;
    for (const LiveTemp &t : liveTemps) {
        if (t.used)
            ::unlinkat(t.dirFd, t.name, 0);
    }
}

} // namespace unlha
