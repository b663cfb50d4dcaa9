#pragma once
// Creates files, folders and links below one destination folder and nowhere
// else: every path is walked component by component from the destination's
// descriptor without following any symbolic link, and files appear under
// their real name only once complete (temporary name, then rename).
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace unlha {

enum class WriteError {
    None,
    Unsafe,     // a component is a link or a file where a folder is needed
    DirExists,  // a folder stands where a file or link is to go
    Exists,     // the name exists (and the caller did not want it replaced)
    LinkOutside,// the link's target leaves the destination
    Io,         // the system refused; errno in `sysError`
};

class SafeWriter {
public:
    SafeWriter() = default;
    ~SafeWriter();
    SafeWriter(const SafeWriter &) = delete;
    SafeWriter &operator=(const SafeWriter &) = delete;

    // Opens the destination folder; false with errno set when it is not one.
    bool open(const std::string &destPath);

    // The folder that holds `path`'s last component, created as needed.
    // Returns a descriptor owned by the writer, or -1.
    int parentFolder(const std::vector<std::string> &path, WriteError &err, int &sysError);

    // Creates the folder `path` (and its parents). `created` tells whether the
    // last component is new.
    bool makeFolder(const std::vector<std::string> &path, bool &created, WriteError &err, int &sysError);

    // What stands at `name` in `dirFd`: 0 nothing, 1 a folder, 2 anything else.
    int existing(int dirFd, const std::string &name) const;

    // A new temporary file in `dirFd`; returns its descriptor and name.
    int createTemp(int dirFd, std::string &tmpName, int &sysError);
    // Gives the finished temporary file its mode and time, then its real name.
    // With `replace` false an existing name is left alone (WriteError::Exists).
    WriteError commit(int dirFd, int fd, const std::string &tmpName, const std::string &name, uint32_t mode,
                      bool hasMode, int64_t mtime, bool hasMtime, bool replace, int &sysError);
    void discard(int dirFd, int fd, const std::string &tmpName);

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
    int walk(const std::vector<std::string> &path, size_t count, bool create, WriteError &err, int &sysError);
    void clearCache();

    int rootFd_ = -1;
    mode_t umask_ = 022;
    std::unordered_map<std::string, int> cache_;
};

// The process's umask, read without changing it (umask() would, and we may
// run beside other threads).
mode_t currentUmask();

} // namespace unlha
