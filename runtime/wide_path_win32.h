// For the Win32 back ends only: extended paths, where an open handle lies,
// and file times in nanoseconds. A path that starts with
// "\\?\" is a full path in UTF-8 and goes to the wide functions, which take
// it up to kExtendedPathCapacity characters without cleaning it (no "." or
// ".." handling, "\" the only separator). Every other path stays in the
// ANSI code page and goes to the ANSI functions, as it always did.
#ifndef VEZOVUD_RUNTIME_WIDE_PATH_WIN32_H
#define VEZOVUD_RUNTIME_WIDE_PATH_WIN32_H

#include <windows.h>

#include "runtime/text.h"

// 1 when path starts with "\\?\".
int IsExtendedPath(const Text& path);

// The UTF-16 form of an extended path in a block of the process heap, to be
// released with FreeWidePath; null when it is not well-formed UTF-8 or does
// not fit kExtendedPathCapacity. A trailing "\" is dropped when dropTrailing
// is set (the attribute functions want none).
wchar_t* WidePathOf(const Text& path, int dropTrailing);
void FreeWidePath(wchar_t* path);

// The UTF-16 form of ANSI text (CP_ACP) in a heap block, or of UTF-8 text;
// null on failure. And the UTF-8 form of UTF-16 text.
wchar_t* WideTextOf(const Text& text, UINT codePage);
Text Utf8TextOf(const wchar_t* text);

// The resolved full path of the file or folder open as object, reached
// through name (for systems without GetFinalPathNameByHandleA, where name's
// full path stands, links unresolved): no "\\?\" prefix, no trailing "\"
// except at a root. The empty text when it cannot be had or does not fit
// kPathCapacity.
Text FinalPathOfHandle(HANDLE object, const char* name);

// 100-nanosecond ticks from 1601 to 1970, and nanoseconds per tick.
const int64_t kTicksBefore1970 = 116444736000000000LL;
const int64_t kNanosecondsPerTick = 100;

// A FILETIME as a file time of file_info.h: nanoseconds since 1970.
int64_t NanosecondsOfFileTime(const FILETIME& time);

#endif
