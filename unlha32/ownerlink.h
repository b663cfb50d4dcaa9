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

// `work` under the owner window, through the companion library; -1 (work
// without windows) when there is no owner or the companion cannot be
// loaded or does not run it.
int runUnderOwner(uintptr_t ownerWindow, const std::string &archiveDisplayName,
                  const std::function<int(Observer &)> &work);

constexpr const char *kUiLibraryName = "libunlha32ui.so";
constexpr const char *kUiEntryName = "unlha32ui_run_with_owner";

} // namespace unlha
