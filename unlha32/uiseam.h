#pragma once
/* The seam between libunlha32 and its companion libunlha32ui.so: plain C
 * structures and functions, so that the two libraries share no C++ types
 * (no std::string or std::function whose layout could differ between
 * builds), and a version that the companion checks before it runs anything.
 * Nothing may throw across it. */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UNLHA32UI_SEAM_VERSION 2

/* What a callback returns when its side failed (its memory ran out, its
 * windows are gone) instead of throwing: the other side stops calling and
 * ends the run with that cause. */
#define UNLHA32UI_FAILED (-1)

/* The extraction's observer, as the windows see it. Every callback returns
 * UNLHA32UI_FAILED or its answer: 0 for the ones that have none. */
typedef struct unlha32ui_observer {
    void *self;
    int (*begin)(void *self, uint64_t total_bytes, size_t file_count);
    int (*entry)(void *self, const char *utf8_name);
    int (*files_done)(void *self, size_t count);
    int (*progress)(void *self, uint64_t bytes_done);
    /* One of unlha::OverwriteAnswer's values. */
    int (*ask_overwrite)(void *self, const char *utf8_path);
    int (*asks_user)(void *self); /* 1 or 0 */
    int (*cancelled)(void *self); /* 1 or 0 */
} unlha32ui_observer;

typedef struct unlha32ui_run {
    uint32_t version; /* UNLHA32UI_SEAM_VERSION */
    uintptr_t owner_window;
    const char *archive_name; /* UTF-8, for the progress window */
    void *context;
    /* The extraction, run on a thread of the companion's; its result. */
    int (*work)(void *context, const unlha32ui_observer *observer);
} unlha32ui_run;

/* The companion's one entry point: the work's result, or -1 when nothing
 * was run (no such window, not the window thread, another version, no
 * thread to run the work on). */
typedef int (*unlha32ui_run_with_owner_fn)(const unlha32ui_run *run);

#ifdef __cplusplus
}
#endif
