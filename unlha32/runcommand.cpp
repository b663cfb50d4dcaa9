// Unlha()'s command: parsed, run under the owner's windows or without
// them, and reported.
#include "unlha32/extract.h"

#include "unlha32/command.h"
#include "unlha32/messages.h"
#include "unlha32/ownerlink.h"
#include "unlha32/unlha32.h"
#include "unlha32/writer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace unlha {
namespace {

std::string archiveCause(const Command &cmd, const std::string &text)
{
    const std::string &path = cmd.archive.empty() ? text : cmd.archive;
    switch (cmd.problem) {
    case ENOENT: return format(msg::kCauseNoArchive, path);
    case EISDIR: return format(msg::kCauseArchiveIsFolder, path);
    case EINVAL: return format(msg::kCauseArchiveNotFile, path);
    default: return format(msg::kCauseArchivePath, path, systemErrorText(cmd.problem));
    }
}

std::string destinationCause(const Command &cmd, const std::string &text)
{
    const std::string &path = cmd.destination.empty() ? text : cmd.destination;
    if (cmd.problem == ENOENT || cmd.problem == ENOTDIR)
        return format(msg::kCauseNoDestination, path);
    return format(msg::kCauseDestinationPath, path, systemErrorText(cmd.problem));
}

// A process made to end while a run goes on (the program's window system
// gone, exit() called from its thread) must not leave temporary files: the
// run is told to stop, is given a moment to clean up, then whatever it still
// holds is removed.
struct Runs {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
    std::atomic<bool> ending{false};
};

Runs &runs()
{
    // Built in place and never destroyed: a run still going while the
    // process exits uses it after the destructors have run. Not on the
    // heap either, so that unloading the library leaves nothing behind.
    alignas(Runs) static unsigned char storage[sizeof(Runs)];
    static Runs *const r = new (storage) Runs;
    return *r;
}

void endRunsAtExit()
{
    Runs &r = runs();
    r.ending.store(true);
    {
        std::unique_lock<std::mutex> lock(r.mutex);
        r.idle.wait_for(lock, std::chrono::seconds(2), [&r] { return r.running == 0; });
    }
    removeLiveTemps();
}

class RunGuard {
public:
    RunGuard()
    {
        static std::once_flag once;
        std::call_once(once, [] { std::atexit(endRunsAtExit); });
        std::lock_guard<std::mutex> lock(runs().mutex);
        ++runs().running;
    }
    ~RunGuard()
    {
        {
            std::lock_guard<std::mutex> lock(runs().mutex);
            --runs().running;
        }
        runs().idle.notify_all();
    }
};

// The caller's observer, with a stop when the process is ending.
class EndingAware : public Observer {
public:
    explicit EndingAware(Observer &inner) : inner_(inner) {}
    void begin(uint64_t totalBytes, std::size_t fileCount) override { inner_.begin(totalBytes, fileCount); }
    void entry(const std::string &name) override { inner_.entry(name); }
    void filesDone(std::size_t count) override { inner_.filesDone(count); }
    void progress(uint64_t bytesDone) override { inner_.progress(bytesDone); }
    OverwriteAnswer askOverwrite(const std::string &path) override
    {
        return cancelled() ? OverwriteAnswer::Cancel : inner_.askOverwrite(path);
    }
    bool asksUser() const override { return inner_.asksUser(); }
    bool cancelled() const override { return runs().ending.load(std::memory_order_relaxed) || inner_.cancelled(); }

private:
    Observer &inner_;
};

// The run itself; whatever it throws, runCommand() turns into a result.
int run(uintptr_t ownerWindow, const char *command, Report &report)
{
    Command cmd;
    const std::string text = command ? command : "";
    switch (parseCommand(text, cmd)) {
    case CommandError::None:
        break;
    case CommandError::Syntax:
        report.fail(UNLHA_ERR_COMMAND, format(msg::kCauseCommand, text));
        break;
    case CommandError::NoArchive:
        report.fail(UNLHA_ERR_COMMAND, archiveCause(cmd, text));
        break;
    case CommandError::NoDestination:
        report.fail(UNLHA_ERR_COMMAND, destinationCause(cmd, text));
        break;
    }
    if (report.result() != 0)
        return report.result();
    RunGuard guard;
    const auto work = [&](Observer &obs) {
        EndingAware aware(obs);
        return extractArchive(cmd.archive, cmd.destination, aware, report);
    };
    OwnerRun owned;
    if (ownerWindow != 0)
        owned = runUnderOwner(ownerWindow, baseName(cmd.archive), work);
    if (owned.windowsFailed) {
        report.failOver(UNLHA_ERR_WRITE, msg::kCauseWindowsFailed);
        return report.result();
    }
    if (owned.result != -1)
        return owned.result;
    Observer quiet;
    return work(quiet);
}

// When not even the report can be put together: the cause alone, written
// without taking any memory.
void writeCauseOnly(char *output, uint32_t size, const char *cause) noexcept
{
    if (!output || size == 0)
        return;
    std::size_t n = std::strlen(cause);
    if (n > size - 1) {
        n = size - 1;
        while (n > 0 && (static_cast<unsigned char>(cause[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(output, cause, n);
    if (n + 1 < size && cause[n] == '\0')
        output[n++] = '\n';
    output[n] = '\0';
}

int failedRun(Report &report, char *output, uint32_t outputSize, const char *cause) noexcept
{
    try {
        report.failOver(UNLHA_ERR_WRITE, cause);
        report.write(output, outputSize);
    } catch (...) {
        writeCauseOnly(output, outputSize, cause);
    }
    return UNLHA_ERR_WRITE;
}

} // namespace

int runCommand(uintptr_t ownerWindow, const char *command, char *output, uint32_t outputSize)
{
    // No more of the report is kept than the caller has room for.
    Report report(output ? outputSize : 0);
    // Nothing may leave the library: the caller's process would end. What
    // the report holds so far stays, with the cause of the stop.
    try {
        const int result = run(ownerWindow, command, report);
        report.write(output, outputSize);
        return result;
    } catch (const std::bad_alloc &) {
        return failedRun(report, output, outputSize, msg::kCauseNoMemory);
    } catch (...) {
        return failedRun(report, output, outputSize, msg::kCauseInternal);
    }
}

} // namespace unlha
