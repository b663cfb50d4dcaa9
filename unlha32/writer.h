#pragma once
// Creates files, folders and links below one destination folder and nowhere
// else: every path is walked component by component from the destination's
// descriptor without following any symbolic link, and files appear under
// their real name only once complete (written unnamed or under a temporary
// name, then linked or renamed).
//
// writer.cpp: the walk, the cache of open folders, links and folder times.
// tempfiles.cpp: temporary files, their names and the sweep of leftovers.
// placename.cpp: a finished file (or a new link) given its real name.
#include "unlha32/folder.h"
#include "unlha32/tempfiles.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
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

    // The walk and the cache of open folders (writer.cpp).
    Folder walk(const std::vector<std::string> &path, size_t count, bool create, WriteError &err, int &sysError,
                bool fresh = false);
    // Keeps `folder` for later, in place of the folder used longest ago that
    // nobody holds; not at all when every kept one is held.
    void remember(const std::string &key, const Folder &folder);
    // Closes the kept folder used longest ago that nobody holds.
    bool evictOne();
    // When `err` says the process is out of descriptors, closes every kept
    // folder that nobody holds, so that the call may be tried again. False
    // when there was none (or `err` is another).
    bool dropIdle(int err);
    // openat() that, out of descriptors, drops idle folders and tries again.
    int openAt(int dirFd, const char *name, int flags, mode_t mode = 0);
    void noteCreated(const struct stat &st);
    bool createdHere(const struct stat &st) const;
    // Sets the modification time of `fd`, its access time left alone.
    static void setMtime(int fd, int64_t mtime);

    // Temporary files (tempfiles.cpp).
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

    // Real names (placename.cpp).
    // Gives the named temporary file `tmp` the name `name` in `dirFd`,
    // replacing what is there only when `replace`; -1 with errno set on
    // failure.
    int placeName(const TempFile &tmp, int dirFd, const std::string &name, bool replace);
    // The same for an unnamed temporary file.
    int linkUnnamed(const TempFile &tmp, int dirFd, const std::string &name, bool replace);
    // Either of them, its failure in the writer's terms.
    WriteError place(const TempFile &tmp, int dirFd, const std::string &name, bool replace, int &sysError);

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
