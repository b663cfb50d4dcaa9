#pragma once
// Files being written before they get their real name: unnamed where the
// file system allows, under a temporary name otherwise; the names this
// machine gives them; the table of this process's named ones, removed when
// the process is made to end.
#include "unlha32/folder.h"

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace unlha {

// A file being written, or a link being made, before it gets its real
// name. Unnamed where the file system allows (a process killed meanwhile
// leaves nothing); otherwise under a temporary name in `dir`, a handle that
// reaches the name even when the folder has been moved or swapped meanwhile.
struct TempFile {
    int fd = -1;
    Folder dir;       // named ones only
    std::string name; // named ones only
    int slot = -1;    // in the table of this process's named temporary files
    bool live() const { return fd >= 0 || static_cast<bool>(dir); }
    bool named() const { return static_cast<bool>(dir); }
};

// Temporary names read ".unlha-PID-RANDOM-TAG.tmp", the tag a keyed hash of
// the rest under a key of this machine: only names this machine made pass,
// and only those of processes that no longer run (killed, or the power
// cut) are removed from the folders a later run writes into.
constexpr const char *kTempPrefix = ".unlha-";

// The temporary name of process `pid` with `random`, tag included.
std::string tempName(pid_t pid, uint64_t random);
// The process that made the temporary name `name`, 0 when `name` is not one
// this machine made.
pid_t tempOwner(const char *name);

// Named temporary files one process has at most, all runs together; beyond
// it a new one is refused as a process out of descriptors would be.
constexpr int kMaxNamedTemps = 1024;

// Removes every named temporary file this process has open, for a process
// that is made to end in the middle of a run; new ones are refused from
// then on.
void removeLiveTemps();

} // namespace unlha
