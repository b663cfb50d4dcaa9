// A stand-in for libunlha32.so with the same C interface. It appends one line
// per call to the file named by FAKE_UNLHA_LOG and answers with the result and
// report that the test puts in FAKE_UNLHA_RESULT and FAKE_UNLHA_REPORT.
#include "unlha32/unlha32.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FAKE_EXPORT __attribute__((visibility("default")))

namespace {

void record(const char *line)
{
    const char *log = std::getenv("FAKE_UNLHA_LOG");
    if (!log)
        return;
    if (FILE *f = std::fopen(log, "a")) {
        std::fputs(line, f);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

} // namespace

extern "C" {

FAKE_EXPORT uint16_t UnlhaGetVersion(void)
{
    record("UnlhaGetVersion");
    return 123;
}

#ifndef FAKE_WITHOUT_UNLHA
FAKE_EXPORT int Unlha(uintptr_t ownerWindow, const char *command, char *output, uint32_t outputSize)
{
    char head[128];
    std::snprintf(head, sizeof head, "Unlha owner=%" PRIuPTR " size=%" PRIu32 " command=", ownerWindow,
                  outputSize);
    const size_t n = std::strlen(head) + (command ? std::strlen(command) : 0) + 1;
    char *line = static_cast<char *>(std::malloc(n));
    std::snprintf(line, n, "%s%s", head, command ? command : "");
    record(line);
    std::free(line);

    const char *report = std::getenv("FAKE_UNLHA_REPORT");
    if (output && outputSize > 0) {
        std::snprintf(output, outputSize, "%s", report ? report : "");
    }
    const char *result = std::getenv("FAKE_UNLHA_RESULT");
    return result ? std::atoi(result) : 0;
}
#endif

} // extern "C"
