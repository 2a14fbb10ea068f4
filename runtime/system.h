// Start-up and exit of the runtime, the clock, and the system's reasons for
// failed calls.
#ifndef VEZOVUD_RUNTIME_SYSTEM_H
#define VEZOVUD_RUNTIME_SYSTEM_H

#include <stdint.h>

#include "runtime/text.h"

// Makes the memory service ready (a private heap on Windows); the tables
// grow on first use. Call before anything else; a second call does nothing
// more.
void InitRuntime();

// Closes every open file (flushing each) and every listing, and ends the
// memory service (on Windows its private heap is destroyed). Call at the
// program's end; InitRuntime may start it again.
void EndRuntime();

// Milliseconds since some fixed point, wrapping at 2^32.
uint32_t TickCount();

// Gives up the processor for ms milliseconds; 0 or less returns at once.
void PauseMilliseconds(int32_t ms);

// The system's code for why the calling thread's last failed system call
// failed: errno on POSIX, GetLastError on Windows. Services that fail leave
// it as the failing call set it, unless their contract says otherwise; 0
// when the system gave none.
int32_t LastSystemError();

// The system's own words for an error code (strerror on POSIX,
// FormatMessage on Windows), without a final full stop or line break, such
// as "No space left on device"; "error N" when the system has no words for
// N, and the empty text for 0. For messages that name the cause of a
// failure; the Windows programs' boxes keep their fixed texts.
Text SystemErrorText(int32_t code);

// 1 when code says that the process, or the whole system, can open no more
// files (POSIX: EMFILE, ENFILE; Windows: ERROR_TOO_MANY_OPEN_FILES).
int IsOutOfOpenFiles(int32_t code);

// 1 when code says that the disk, or the user's quota on it, is full (POSIX:
// ENOSPC, EDQUOT; Windows: ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL,
// ERROR_DISK_QUOTA_EXCEEDED), so that every further write would fail alike.
int IsDiskFull(int32_t code);

#endif
