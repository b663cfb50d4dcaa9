#pragma once
// Runs an extraction under the caller's window: a progress window over it,
// the overwrite question, and the caller's windows kept painting but deaf.
#include <cstdint>
#include <functional>
#include <string>

#include "unlha32/observer.h"

namespace unlha {

// Runs `work` on a worker thread while this thread keeps the program's
// windows painting, and returns what `work` returned. The Observer handed to
// `work` shows progress, asks before replacing, and reports Cancel.
// Returns -1 without running anything when there is no QApplication, when
// called off its thread, when `ownerWindow` is not the native id of one of
// this process's widgets, or when no thread can be started for the work;
// the caller then works without windows.
int runWithOwner(uintptr_t ownerWindow, const std::string &archiveDisplayName,
                 const std::function<int(Observer &)> &work);

} // namespace unlha
