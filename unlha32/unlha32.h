/* libunlha32: extracts LHA archives (.lzh, .lzs, .pma).
 *
 * The library is loaded at run time by the name "unlha32"; callers resolve the
 * entry points below with dlsym(). The typedefs name their signatures. */
#ifndef UNLHA32_H
#define UNLHA32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(UNLHA32_BUILDING)
#define UNLHA32_API __attribute__((visibility("default")))
#else
#define UNLHA32_API
#endif

/* Results of Unlha(). */
#define UNLHA_OK              0     /* every file extracted and verified */
#define UNLHA_ERR_NOT_ARCHIVE 0x8001 /* not an LHA archive, empty, unreadable */
#define UNLHA_ERR_DAMAGED     0x8002 /* bad CRC, truncated or damaged data */
#define UNLHA_ERR_METHOD      0x8003 /* unsupported compression method */
#define UNLHA_ERR_WRITE       0x8004 /* a file or folder could not be written */
#define UNLHA_ERR_CANCELLED   0x8005 /* the user cancelled */
#define UNLHA_ERR_SKIPPED     0x8006 /* some files were skipped (exist already, unsafe) */
#define UNLHA_ERR_COMMAND     0x8007 /* bad command, missing archive or destination */

/* Version x 100: 100 for 1.00. */
UNLHA32_API uint16_t UnlhaGetVersion(void);

/* Runs one command: "e ARCHIVE DEST/" (or "x", the same) extracts ARCHIVE into
 * the existing folder DEST keeping the archive's sub-folders. Operands may be
 * enclosed in double quotation marks. ownerWindow is the native window id of
 * the caller's window (0 for none): with one, a progress window and overwrite
 * questions appear over it. When outputSize > 0 a Japanese report is written
 * into output, NUL-terminated: one line per extracted or skipped item, then,
 * when the result is not UNLHA_OK, the cause (naming the entry) as the last
 * line. A report that does not fit loses item lines, never the cause.
 * Returns when the work is done. */
UNLHA32_API int Unlha(uintptr_t ownerWindow, const char *command,
                      char *output, uint32_t outputSize);

typedef uint16_t (*UnlhaGetVersionFn)(void);
typedef int (*UnlhaFn)(uintptr_t, const char *, char *, uint32_t);

#ifdef __cplusplus
}
#endif

#endif
