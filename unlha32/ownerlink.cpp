#include "unlha32/ownerlink.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <exception>
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

unlha32ui_run_with_owner_fn loadCompanion()
{
    // Only from our own folder: never from a search path someone else sets.
    const std::string folder = ownFolder();
    if (folder.empty())
        return nullptr;
    void *lib = dlopen((folder + kUiLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return nullptr;
    // Kept loaded: Qt does not take kindly to being unloaded.
    return reinterpret_cast<unlha32ui_run_with_owner_fn>(dlsym(lib, kUiEntryName));
}

// The companion's observer, seen as ours. Once a call answers that the
// companion failed, it is called no more: the work is told to stop, and no
// file is replaced without the question that can no longer be put.
class SeamObserver final : public Observer {
public:
    explicit SeamObserver(const unlha32ui_observer &c) : c_(c) {}
    void begin(uint64_t totalBytes, std::size_t fileCount) override
    {
        if (!failed_)
            check(c_.begin(c_.self, totalBytes, fileCount));
    }
    void entry(const std::string &name) override
    {
        if (!failed_)
            check(c_.entry(c_.self, name.c_str()));
    }
    void filesDone(std::size_t count) override
    {
        if (!failed_)
            check(c_.files_done(c_.self, count));
    }
    void progress(uint64_t bytesDone) override
    {
        if (!failed_)
            check(c_.progress(c_.self, bytesDone));
    }
    OverwriteAnswer askOverwrite(const std::string &path) override
    {
        if (failed_)
            return OverwriteAnswer::Cancel;
        const int a = check(c_.ask_overwrite(c_.self, path.c_str()));
        // An answer we do not know replaces nothing.
        return a >= 0 && a <= static_cast<int>(OverwriteAnswer::Cancel) ? static_cast<OverwriteAnswer>(a)
                                                                        : OverwriteAnswer::Cancel;
    }
    bool asksUser() const override { return !failed_ && check(c_.asks_user(c_.self)) > 0; }
    bool cancelled() const override { return failed_ || check(c_.cancelled(c_.self)) != 0; }

    bool failed() const { return failed_; }

private:
    int check(int answer) const
    {
        if (answer == UNLHA32UI_FAILED)
            failed_ = true;
        return answer;
    }

    const unlha32ui_observer &c_;
    // Every call comes from the extraction's thread.
    mutable bool failed_ = false;
};

struct Work {
    const std::function<int(Observer &)> &work;
    bool ran = false; // then its result stands, whatever the companion says
    int result = -1;
    bool windowsFailed = false;
    std::exception_ptr error; // carried over the seam, thrown again on this side
};

// Called by the companion: nothing may leave it but the result.
int runWork(void *context, const unlha32ui_observer *observer)
{
    auto *w = static_cast<Work *>(context);
    if (!observer)
        return -1;
    w->ran = true;
    try {
        SeamObserver o(*observer);
        w->result = w->work(o);
        w->windowsFailed = o.failed();
    } catch (...) {
        w->error = std::current_exception();
    }
    return w->result;
}

OwnerRun runThroughCompanion(unlha32ui_run_with_owner_fn companion, uintptr_t ownerWindow,
                             const std::string &archiveDisplayName, const std::function<int(Observer &)> &work)
{
    Work w{work, false, -1, false, nullptr};
    const unlha32ui_run r{UNLHA32UI_SEAM_VERSION, ownerWindow, archiveDisplayName.c_str(), &w, runWork};
    // Its answer is the work's result, or -1 when it did not run the work;
    // ours says the same without trusting it.
    companion(&r);
    if (w.error)
        std::rethrow_exception(w.error);
    return w.ran ? OwnerRun{w.result, w.windowsFailed} : OwnerRun{};
}

} // namespace

OwnerRun runUnderOwner(uintptr_t ownerWindow, const std::string &archiveDisplayName,
                       const std::function<int(Observer &)> &work)
{
    if (ownerWindow == 0)
        return {};
    if (companionStandIn)
        return runThroughCompanion(companionStandIn, ownerWindow, archiveDisplayName, work);
    static std::once_flag once;
    static unlha32ui_run_with_owner_fn run = nullptr;
    std::call_once(once, [] { run = loadCompanion(); });
    if (!run)
        return {};
    return runThroughCompanion(run, ownerWindow, archiveDisplayName, work);
}

} // namespace unlha
