#include "unlha32/ownerlink.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>

namespace unlha {
namespace {

// The folder this code was loaded from: the library's own, or the program's
// when the code is linked into it.
std::string ownFolder()
{
    Dl_info info{};
    std::string path;
    if (dladdr(reinterpret_cast<void *>(&runUnderOwner), &info) != 0 && info.dli_fname)
        path = info.dli_fname;
    if (path.find('/') == std::string::npos) {
        char buf[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0)
            return {};
        path.assign(buf, static_cast<size_t>(n));
    }
    return path.substr(0, path.find_last_of('/') + 1);
}

RunWithOwnerFn loadCompanion()
{
    // Only from our own folder: never from a search path someone else sets.
    const std::string folder = ownFolder();
    if (folder.empty())
        return nullptr;
    void *lib = dlopen((folder + kUiLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return nullptr;
    // Kept loaded: Qt does not take kindly to being unloaded.
    return reinterpret_cast<RunWithOwnerFn>(dlsym(lib, kUiEntryName));
}

} // namespace

int runUnderOwner(uintptr_t ownerWindow, const std::string &archiveDisplayName,
                  const std::function<int(Observer &)> &work)
{
    if (ownerWindow == 0)
        return -1;
    static std::once_flag once;
    static RunWithOwnerFn run = nullptr;
    std::call_once(once, [] { run = loadCompanion(); });
    return run ? run(ownerWindow, &archiveDisplayName, &work) : -1;
}

} // namespace unlha
