#pragma once
// The progress window and the overwrite question live in a companion
// library, libunlha32ui.so, beside this one. It is loaded only when a caller
// hands over a window, so that extracting without one never loads Qt: a
// command-line caller starts faster and stays small.
#include <cstdint>
#include <functional>
#include <string>

#include "unlha32/observer.h"
#include "unlha32/uiseam.h"

namespace unlha {

// What became of a run under the owner's windows.
struct OwnerRun {
    // The work's result; -1 when nothing was run (no owner, no companion,
    // or the companion did not run it): the caller works without windows.
    int result = -1;
    // The windows failed while the work ran: the work was told to stop,
    // and the run is a failure whatever its result says.
    bool windowsFailed = false;
};

// `work` under the owner window, through the companion library. Whatever
// `work` throws is thrown again here, on the caller's side of the seam.
OwnerRun runUnderOwner(uintptr_t ownerWindow, const std::string &archiveDisplayName,
                       const std::function<int(Observer &)> &work);

// For the tests: an entry point that stands in for the companion's.
inline unlha32ui_run_with_owner_fn companionStandIn = nullptr;

constexpr const char *kUiLibraryName = "libunlha32ui.so";
constexpr const char *kUiEntryName = "unlha32ui_run_with_owner";

} // namespace unlha
