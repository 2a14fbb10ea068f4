// Why a call into the system failed, in the system's own words, for the
// messages of the command-line tool that name a cause. The Windows programs'
// boxes keep their fixed texts and do not use this.
#ifndef VEZOVUD_RUNTIME_SYSTEM_ERROR_H
#define VEZOVUD_RUNTIME_SYSTEM_ERROR_H

#include <stdint.h>

#include "runtime/text.h"

// The reason the last failed system call of the calling thread gave, as the
// platform codes it (POSIX: errno; Windows: GetLastError). A runtime
// operation that fails because the system refused leaves that code for the
// caller to take right after it, before any other call; one that fails for a
// reason of its own (a path beyond kPathCapacity, an item of the wrong kind)
// may leave an older code. 0 when there is none.
int32_t LastSystemError();

// The system's words for code (strerror; FormatMessage), without a final
// line break or full stop; the empty text for 0.
Text SystemErrorText(int32_t code);

// 1 when code says that the process, or the whole system, can open no more
// files (POSIX: EMFILE, ENFILE; Windows: ERROR_TOO_MANY_OPEN_FILES).
int IsOutOfOpenFiles(int32_t code);

#endif
