// libunlha32ui.so: the windows of libunlha32, loaded by it on demand.
#include "unlha32/ownerui.h"
#include "unlha32/seamguard.h"
#include "unlha32/uiseam.h"

#include <type_traits>

extern "C" __attribute__((visibility("default"))) int unlha32ui_run_with_owner(const unlha32ui_run *run)
{
    // The signature must stay the one the library casts to.
    static_assert(std::is_same_v<decltype(&unlha32ui_run_with_owner), unlha32ui_run_with_owner_fn>);
    if (!run || run->version != UNLHA32UI_SEAM_VERSION || !run->work || !run->archive_name)
        return -1;
    try {
        return unlha::runWithOwner(run->owner_window, run->archive_name, [run](unlha::Observer &o) {
            const unlha32ui_observer c = unlha::seamObserver(o);
            return run->work(run->context, &c);
        });
    } catch (...) {
        // Nothing crosses the seam but the result; the library keeps its
        // own failures on its side, and knows whether its work ran.
        return -1;
    }
}
