// libunlha32ui.so: the windows of libunlha32, loaded by it on demand.
#include "unlha32/ownerui.h"
#include "unlha32/uiseam.h"

#include <exception>

namespace {

// Our observer, handed to the library's side of the seam.
unlha32ui_observer toSeam(unlha::Observer &o)
{
    using unlha::Observer;
    unlha32ui_observer c{};
    c.self = &o;
    c.begin = [](void *s, uint64_t total, size_t files) { static_cast<Observer *>(s)->begin(total, files); };
    c.entry = [](void *s, const char *name) { static_cast<Observer *>(s)->entry(name); };
    c.files_done = [](void *s, size_t count) { static_cast<Observer *>(s)->filesDone(count); };
    c.progress = [](void *s, uint64_t done) { static_cast<Observer *>(s)->progress(done); };
    c.ask_overwrite = [](void *s, const char *path) {
        return static_cast<int>(static_cast<Observer *>(s)->askOverwrite(path));
    };
    c.asks_user = [](void *s) { return static_cast<Observer *>(s)->asksUser() ? 1 : 0; };
    c.cancelled = [](void *s) { return static_cast<Observer *>(s)->cancelled() ? 1 : 0; };
    return c;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int unlha32ui_run_with_owner(const unlha32ui_run *run)
{
    // The signature must stay the one the library casts to.
    static_assert(std::is_same_v<decltype(&unlha32ui_run_with_owner), unlha32ui_run_with_owner_fn>);
    if (!run || run->version != UNLHA32UI_SEAM_VERSION || !run->work || !run->archive_name)
        return -1;
    try {
        return unlha::runWithOwner(run->owner_window, run->archive_name, [run](unlha::Observer &o) {
            const unlha32ui_observer c = toSeam(o);
            return run->work(run->context, &c);
        });
    } catch (...) {
        // Nothing crosses the seam but the result; the library keeps its
        // own failures on its side.
        return -1;
    }
}
