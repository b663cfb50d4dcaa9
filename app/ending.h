#pragma once
// The one way the program ends: every window disappears, no window's close
// handling runs, the event loop is left at once and the process exits with 0.
#include <functional>

void endProgram();

// Tests replace the ending with their own observer so the test process
// survives; pass an empty function to restore the real ending.
void setEndProgramHook(std::function<void()> hook);
