// libunlha32ui.so: the windows of libunlha32, loaded by it on demand.
#include "unlha32/ownerlink.h"
#include "unlha32/ownerui.h"

extern "C" __attribute__((visibility("default"))) int
unlha32ui_run_with_owner(uintptr_t ownerWindow, const std::string *archiveDisplayName,
                         const std::function<int(unlha::Observer &)> *work)
{
    // The signature must stay the one the library casts to.
    static_assert(std::is_same_v<decltype(&unlha32ui_run_with_owner), unlha::RunWithOwnerFn>);
    return unlha::runWithOwner(ownerWindow, *archiveDisplayName, *work);
}
