#pragma once
// The one way the program ends: every window disappears, no window's close
// handling runs, the event loop is left at once and the process exits with 0.
#include <functional>

void endProgram();

// Tests replace the ending with their own observer so the test process
// survives; pass an empty function to restore the real ending.
void setEndProgramHook(std::function<void()> hook);

// SIGTERM, SIGHUP and SIGINT (logout, Ctrl-C, a system shutdown) end the
// program as endProgram() does, from the event loop. Call once, after the
// application object exists. A signal the program was started ignoring
// (nohup, a background job) stays ignored.
void installEndingSignals();

// Set while the archive library works. An ending signal then only makes
// every event loop leave, which the library takes as a cancel: it removes
// its temporary files and returns, and the extraction, seeing
// endRequested(), ends the program itself.
void setExtractionRunning(bool running);
bool endRequested();
