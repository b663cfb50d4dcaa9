#pragma once
// The extraction itself and the command that drives it.
#include "unlha32/observer.h"
#include "unlha32/report.h"

#include <cstdint>
#include <string>

namespace unlha {

// Extracts every entry of `archivePath` below the existing folder
// `destination`. Returns one of the UNLHA_ results; `report` says what
// happened to each entry. Entries are decoded on `workers` threads (0: as
// many as defaultWorkerCount() says); the outcome does not depend on it.
int extractArchive(const std::string &archivePath, const std::string &destination, Observer &observer,
                   Report &report, int workers = 0);

// The last component of `path`, for messages.
std::string baseName(const std::string &path);

// Unlha(): parses `command`, runs it (with the owner's progress window when
// there is one) and writes the report.
int runCommand(uintptr_t ownerWindow, const char *command, char *output, uint32_t outputSize);

} // namespace unlha
