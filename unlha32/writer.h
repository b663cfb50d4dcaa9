#pragma once
// Creates files, folders and links below one destination folder and nowhere
// else: every path is walked component by component from the destination's
// descriptor without following any symbolic link, and files appear under
// their real name only once complete (written unnamed or under a temporary
// name, then linked or renamed).
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace unlha {

enum class WriteError {
    None,
    Unsafe,     // a component is a symbolic link, or the name is one the writer keeps for itself
    FileInWay,  // a file stands where a folder is needed
    DirExists,  // a folder stands where a file or link is to go
    Exists,     // the name exists (and the caller did not want it replaced)
    LinkOutside,// the link's target leaves the destination
    Io,         // the system refused; errno in `sysError`
};

// An open folder of the destination. The writer's cache and every holder
// share it: the descriptor stays open, naming this very folder, as long as
// anyone holds it, whatever the cache drops or opens meanwhile.
class Folder {
public:
    Folder() = default;
    int fd() const { return open_ ? open_->fd : -1; }
    explicit operator bool() const { return open_ != nullptr; }

private:
    friend class SafeWriter;
    struct Open {
        explicit Open(int f) : fd(f) {}
        ~Open();
        Open(const Open &) = delete;
        Open &operator=(const Open &) = delete;
        int fd;
    };
    explicit Folder(int fd) : open_(std::make_shared<Open>(fd)) {}
    // Someone besides the one asking holds it.
    bool held() const { return open_.use_count() > 1; }
    std::shared_ptr<Open> open_;
};

// A file being written. Unnamed where the file system allows (a process
// killed meanwhile leaves nothing); otherwise under a temporary name in
// `dir`, a handle that reaches the name even when the folder has been moved
// or swapped meanwhile.
struct TempFile {
    int fd = -1;
    Folder dir;       // named ones only
    std::string name; // named ones only
    int slot = -1;    // in the table of this process's named temporary files
    bool live() const { return fd >= 0 || static_cast<bool>(dir); }
    bool named() const { return static_cast<bool>(dir); }
};

// Temporary names read ".unlha-PID-RANDOM-TAG.tmp", the tag a keyed hash of
// the rest under a key of this machine: only names this machine made pass,
// and only those of processes that no longer run (killed, or the power
// cut) are removed from the folders a later run writes into.
constexpr const char *kTempPrefix = ".unlha-";

// The temporary name of process `pid` with `random`, tag included.
std::string tempName(pid_t pid, uint64_t random);
// The process that made the temporary name `name`, 0 when `name` is not one
// this machine made.
pid_t tempOwner(const char *name);

// Named temporary files one process has at most, all runs together; beyond
// it a new one is refused as a process out of descriptors would be.
constexpr int kMaxNamedTemps = 1024;

// Removes every named temporary file this process has open, for a process
// that is made to end in the middle of a run; new ones are refused from
// then on.
void removeLiveTemps();

// Descriptors one writer needs besides its destination's to write one file
// at a time: the file's folder, the file, and two while a path is walked.
constexpr std::size_t kFewestDescriptors = 4;
// Folders kept open at most, for the next entries in them.
constexpr std::size_t kMaxCachedFolders = 64;

class SafeWriter {
public:
    SafeWriter() = default;
    ~SafeWriter() = default;
    SafeWriter(const SafeWriter &) = delete;
    SafeWriter &operator=(const SafeWriter &) = delete;

    // Opens the destination folder; false with errno set when it is not one.
    bool open(const std::string &destPath);

    // How many folders stay open for later entries (1 to kMaxCachedFolders).
    void setFolderLimit(std::size_t n);
    std::size_t cachedFolders() const { return cache_.size(); }

    // The folder that holds `path`'s last component, created as needed, or
    // an empty handle. `fresh` walks the path again instead of trusting a
    // folder opened earlier, which may have been moved or swapped for a link
    // since.
    Folder parentFolder(const std::vector<std::string> &path, WriteError &err, int &sysError, bool fresh = false);

    // Creates the folder `path` (and its parents). `created` tells whether
    // this run made the last component, now or earlier.
    bool makeFolder(const std::vector<std::string> &path, bool &created, WriteError &err, int &sysError);

    enum class Existing { Nothing, Folder, Other };
    // What stands at `name` in `dirFd` (a link counts as Other).
    Existing existing(int dirFd, const std::string &name) const;

    // A new temporary file in `dir`: unnamed where the file system allows,
    // named otherwise.
    bool createTemp(const Folder &dir, TempFile &tmp, int &sysError);
    // A new temporary file in `dir` under a temporary name.
    bool createNamedTemp(const Folder &dir, TempFile &tmp, int &sysError);
    // Gives the finished temporary file its mode and time, then its real
    // name in `dirFd`. With `replace` false an existing name is left alone
    // (WriteError::Exists). On success `tmp` is no longer live; on failure
    // it is, for discard().
    WriteError commit(int dirFd, TempFile &tmp, const std::string &name, uint32_t mode, bool hasMode,
                      int64_t mtime, bool hasMtime, bool replace, int &sysError);
    // Removes the temporary file. False when its name could not be removed:
    // it is then at least emptied.
    bool discard(TempFile &tmp);

    // Whether the destination folder itself is still there and takes new
    // files: a refusal there ends the run, one further down concerns only
    // that entry.
    bool destinationUsable() const;
    // Whether the destination has less room than `needed` bytes, or than a
    // block: some file systems (FAT through FUSE) say "not permitted" when full.
    bool outOfSpace(uint64_t needed) const;

    // A symbolic link `path` -> `target` (UTF-8, '/' separated), only when the
    // target resolves inside the destination.
    WriteError makeLink(const std::vector<std::string> &path, const std::string &target, bool replace, int &sysError);
    // Whether `target`, seen from the folder `linkDir`, stays inside.
    bool linkStaysInside(const std::vector<std::string> &linkDir, const std::string &target);

    // Mode and time of a folder this run created, applied at the end so that
    // writing its contents does not change the time again.
    void finishFolder(const std::vector<std::string> &path, uint32_t mode, bool hasMode, int64_t mtime, bool hasMtime);

    mode_t defaultFileMode() const { return 0666 & ~umask_; }

private:
    struct Cached {
        Folder folder;
        uint64_t used;
    };
    struct FileId {
        dev_t dev;
        ino_t ino;
        bool operator==(const FileId &o) const { return dev == o.dev && ino == o.ino; }
    };
    struct FileIdHash {
        std::size_t operator()(const FileId &id) const
        {
            return std::hash<uint64_t>()(static_cast<uint64_t>(id.ino) * 0x9E3779B97F4A7C15ULL ^ id.dev);
        }
    };

    Folder walk(const std::vector<std::string> &path, size_t count, bool create, WriteError &err, int &sysError,
                bool fresh = false);
    // Keeps `folder` for later, in place of the folder used longest ago that
    // nobody holds; not at all when every kept one is held.
    void remember(const std::string &key, const Folder &folder);
    // Closes the kept folder used longest ago that nobody holds.
    bool evictOne();
    // Closes every kept folder that nobody holds: for a process out of
    // descriptors. False when there was none.
    bool dropIdle();
    // openat() that, out of descriptors, drops idle folders and tries again.
    int openAt(int dirFd, const char *name, int flags, mode_t mode = 0);
    // Gives the temporary file `tmp` the name `name` in `dirFd`, replacing
    // what is there only when `replace`; -1 with errno set on failure.
    int placeName(const TempFile &tmp, int dirFd, const std::string &name, bool replace);
    // An unnamed temporary file its name; -1 with errno set on failure.
    int linkUnnamed(TempFile &tmp, int dirFd, const std::string &name, bool replace);
    // placeName() with its failure in the writer's terms.
    WriteError place(const TempFile &tmp, int dirFd, const std::string &name, bool replace, int &sysError);
    // What claimName() puts under the temporary name.
    enum class Claim { File, Symlink, HardLink };
    // Puts a new file, a link to `source` or a second name of the file
    // `source` under an unused temporary name in `dirFd`, recorded for
    // removeLiveTemps(). The caller keeps `dirFd` open until release().
    bool claimName(int dirFd, Claim what, const char *source, TempFile &tmp, int &sysError);
    // Forgets the temporary file without touching its name.
    static void release(TempFile &tmp);
    // Removes what dead processes left in a folder this run writes into.
    void sweep(int dirFd);
    void noteCreated(int fd);
    bool createdHere(const struct stat &st) const;

    Folder root_;
    mode_t umask_ = 022;
    bool unnamedTemps_ = true; // /proc/self/fd is there to link them by
    std::size_t folderLimit_ = kMaxCachedFolders;
    uint64_t clock_ = 0;
    std::unordered_map<std::string, Cached> cache_;
    std::unordered_set<FileId, FileIdHash> swept_;   // folders already swept
    std::unordered_set<FileId, FileIdHash> created_; // folders this run made
};

// The first `count` components of `path` as one string, each followed by a
// '/': the key under which a folder or file of the destination is known.
std::string pathKey(const std::vector<std::string> &path, std::size_t count);

// The process's umask, read without changing it (umask() would, and we may
// run beside other threads).
mode_t currentUmask();

} // namespace unlha
