#pragma once
// The binding to the archive library libunlha32.so. The program does not link
// the library: it is looked up at the first call and then kept for the run, so
// the program still starts (and can say what is wrong) when it is missing.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace archive {

// What one run of the library's command came to.
struct RunResult {
    int code = 0;     // the library's result; 0 when everything was extracted
    QString report;   // the library's own account, one line per item and cause
};

// The library's version x 100, loading the library first if need be; nothing
// when the library or one of the entry points the program calls is missing.
std::optional<uint16_t> version();

// Hands `command` to the library on behalf of the window `ownerWindow` (its
// native id). Returns nothing when the library cannot be loaded.
std::optional<RunResult> run(uintptr_t ownerWindow, const QString &command);

// Where the library is looked for, first match wins: the program's own
// folder, the installed layout's library folder beside it, the folder chosen
// at build time, then the system's own search by the bare file name.
QStringList defaultCandidates();

// Test seams: look only at `candidates` (empty: back to the defaults), and
// forget a library loaded before, so that the next call loads afresh.
void setCandidatesForTesting(const QStringList &candidates);
void unloadForTesting();

} // namespace archive
