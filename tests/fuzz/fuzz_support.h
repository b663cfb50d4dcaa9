#pragma once
// Helpers shared by the fuzz targets: checks that abort (a finding for the
// fuzzer, a failure for the regression run) and scratch folders.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace fuzz {

[[noreturn]] inline void fail(const char *what, const std::string &detail = {})
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s", what);
    if (!detail.empty()) {
        std::fputs(" [", stderr);
        for (unsigned char c : detail) {
            if (c >= 0x20 && c < 0x7F)
                std::fputc(c, stderr);
            else
                std::fprintf(stderr, "\\x%02X", c);
        }
        std::fputc(']', stderr);
    }
    std::fputc('\n', stderr);
    std::abort();
}

inline void check(bool ok, const char *what, const std::string &detail = {})
{
    if (!ok)
        fail(what, detail);
}

// UTF-8 judged by the C library's converter rather than by the code under
// test, so that a fault in the library's own check cannot hide itself.
inline bool utf8Valid(const std::string &s)
{
    static iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        fail("no UTF-8 converter");
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(s.data());
    size_t inLeft = s.size();
    std::string out(s.size() * 4 + 4, '\0');
    char *o = out.data();
    size_t outLeft = out.size();
    return iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
}

// ASCII controls, DEL and the C1 controls (U+0080..U+009F) in UTF-8.
inline bool hasControl(const std::string &s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F)
            return true;
        if (c == 0xC2 && i + 1 < s.size()) {
            const auto d = static_cast<unsigned char>(s[i + 1]);
            if (d >= 0x80 && d <= 0x9F)
                return true;
        }
    }
    return false;
}

inline std::set<std::string> listFolder(const std::string &path)
{
    std::set<std::string> names;
    DIR *d = opendir(path.c_str());
    if (!d)
        fail("cannot list", path);
    while (dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.insert(e->d_name);
    }
    closedir(d);
    return names;
}

// Removes `name` below `dirFd` without following links; folders an archive
// made unreadable are opened up first.
inline void removeBelow(int dirFd, const char *name)
{
    struct stat st;
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        fchmodat(dirFd, name, 0700, 0);
        const int fd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            DIR *d = fdopendir(fd);
            std::set<std::string> names;
            while (dirent *e = readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    names.insert(e->d_name);
            }
            for (const auto &n : names)
                removeBelow(fd, n.c_str());
            closedir(d);
        }
        if (unlinkat(dirFd, name, AT_REMOVEDIR) != 0)
            fail("cannot remove folder", name);
    } else if (unlinkat(dirFd, name, 0) != 0) {
        fail("cannot remove", name);
    }
}

inline void removeTree(const std::string &path)
{
    removeBelow(AT_FDCWD, path.c_str());
}

// Works in `path` for its lifetime, then returns to where the process was,
// so that the fuzzer's own relative paths (corpus, artifacts) stay valid.
class InFolder {
public:
    explicit InFolder(const std::string &path) : saved_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        check(saved_ >= 0, "open working folder");
        check(chdir(path.c_str()) == 0, "chdir", path);
    }
    ~InFolder()
    {
        if (fchdir(saved_) != 0)
            fail("fchdir");
        close(saved_);
    }
    InFolder(const InFolder &) = delete;
    InFolder &operator=(const InFolder &) = delete;

private:
    int saved_;
};

// A private scratch folder for this process, removed at exit.
inline std::string makeWorkspace(const char *tag)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + tag + ".XXXXXX";
    if (!mkdtemp(tmpl.data()))
        fail("mkdtemp", tmpl);
    // Absolute, as the targets may change the working folder.
    char *real = realpath(tmpl.c_str(), nullptr);
    if (!real)
        fail("realpath", tmpl);
    tmpl = real;
    std::free(real);
    static std::string keep;
    keep = tmpl;
    std::atexit([] { removeTree(keep); });
    return tmpl;
}

} // namespace fuzz
