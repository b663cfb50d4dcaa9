#pragma once
// Creates files, folders and links below one destination folder and nowhere
// else: every path is walked component by component from the destination's
// descriptor without following any symbolic link, and files appear under
// their real name only once complete (temporary name, then rename).
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace unlha {

enum class WriteError {
    None,
    Unsafe,     // a component is a symbolic link
    FileInWay,  // a file stands where a folder is needed
    DirExists,  // a folder stands where a file or link is to go
    Exists,     // the name exists (and the caller did not want it replaced)
    LinkOutside,// the link's target leaves the destination
    Io,         // the system refused; errno in `sysError`
};

// A file being written under a temporary name. `dirFd` is the writer's own
// handle on its folder, so that the name can be removed even when the folder
// has been moved or swapped meanwhile.
struct TempFile {
    int fd = -1;
    int dirFd = -1;
    std::string name;
    bool live() const { return dirFd >= 0; }
};

// Temporary names carry the process id: ".unlha-PID-XXXXXXXXXXXX.tmp".
// Those of processes that no longer run (killed, or the power cut) are
// removed from every folder a later run writes into.
constexpr const char *kTempPrefix = ".unlha-";

// Removes every temporary file this process has open, for a process that is
// made to end in the middle of a run; new ones are refused from then on.
void removeLiveTemps();

class SafeWriter {
public:
    SafeWriter() = default;
    ~SafeWriter();
    SafeWriter(const SafeWriter &) = delete;
    SafeWriter &operator=(const SafeWriter &) = delete;

    // Opens the destination folder; false with errno set when it is not one.
    bool open(const std::string &destPath);

    // The folder that holds `path`'s last component, created as needed.
    // Returns a descriptor owned by the writer, or -1. `fresh` walks the
    // path again instead of trusting a folder opened earlier, which may
    // have been moved or swapped for a link since.
    int parentFolder(const std::vector<std::string> &path, WriteError &err, int &sysError, bool fresh = false);

    // Creates the folder `path` (and its parents). `created` tells whether the
    // last component is new.
    bool makeFolder(const std::vector<std::string> &path, bool &created, WriteError &err, int &sysError);

    enum class Existing { Nothing, Folder, Other };
    // What stands at `name` in `dirFd` (a link counts as Other).
    Existing existing(int dirFd, const std::string &name) const;

    // A new temporary file in `dirFd`.
    bool createTemp(int dirFd, TempFile &tmp, int &sysError);
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
    int walk(const std::vector<std::string> &path, size_t count, bool create, WriteError &err, int &sysError,
             bool fresh = false);
    void clearCache();
    // Gives the temporary file `tmp` the name `name` in `dirFd`, replacing
    // what is there only when `replace`; -1 with errno set on failure.
    static int placeName(const TempFile &tmp, int dirFd, const std::string &name, bool replace);
    // placeName() with its failure in the writer's terms.
    static WriteError place(const TempFile &tmp, int dirFd, const std::string &name, bool replace, int &sysError);
    // Forgets the temporary file without touching its name.
    static void release(TempFile &tmp);
    // Removes what dead processes left in a folder this run writes into.
    void sweep(int dirFd);

    int rootFd_ = -1;
    mode_t umask_ = 022;
    std::unordered_map<std::string, int> cache_;
    std::unordered_set<uint64_t> swept_; // folders by device and inode
};

// The first `count` components of `path` as one string, each followed by a
// '/': the key under which a folder or file of the destination is known.
std::string pathKey(const std::vector<std::string> &path, std::size_t count);

// The process's umask, read without changing it (umask() would, and we may
// run beside other threads).
mode_t currentUmask();

} // namespace unlha
