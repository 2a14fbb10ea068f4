// What the portable file service (file.cpp) needs from the platform: plain
// unbuffered files behind an opaque handle. file_win32.cpp and file_posix.cpp
// implement it, together with RemoveFile, PathSize and TempDirectory.
#ifndef VEZOVUD_RUNTIME_FILE_NATIVE_H
#define VEZOVUD_RUNTIME_FILE_NATIVE_H

#include <stdint.h>

#include "runtime/file_info.h"
#include "runtime/text.h"

// A platform file; 0 is no file.
typedef intptr_t NativeFile;

// Opens an existing file (not a folder) for reading, shared for reading.
NativeFile NativeOpenForReading(const Text& path);

// Creates a file for writing or empties an existing one.
NativeFile NativeCreateForWriting(const Text& path);

// Creates a new file for writing; fails when anything of that name exists,
// a link included, which is never followed.
NativeFile NativeCreateNew(const Text& path);

// Opens an existing regular file for writing and empties it, unless the name
// is a link (never followed) or the file has more than one name.
NativeFile NativeOpenForOverwriting(const Text& path);

// Reads up to length bytes; fewer only at the end of the file or on an error.
// Returns the count, 0 on an error.
int32_t NativeRead(NativeFile file, void* destination, int32_t length);

// Writes length bytes; returns how many were written.
int32_t NativeWrite(NativeFile file, const void* source, int32_t length);

// The file's length on disk, -1 when it cannot be had.
int64_t NativeFileSize(NativeFile file);

// Moves to offset bytes from the start (0 or more). 1 on success.
int NativeSeek(NativeFile file, int64_t offset);

void NativeClose(NativeFile file);

// The identity of the open file; 1 on success, 0 on failure.
int NativeFileIdentity(NativeFile file, PathIdentity* identity);

// The state of the open file (file_info.h), taken now; 1 on success.
int NativeFileState(NativeFile file, FileState* state);

// Marks the open file in use (file.h, MarkFileInUse); 1 on success.
int NativeMarkInUse(NativeFile file);

// Returns once a write to the file that is under way, by any process, has
// ended, where the system lets a reader wait for that; else at once. The
// file's position stays.
void NativeAwaitWrites(NativeFile file);

// Copies path into buffer, which holds kPathCapacity characters, as
// CopySystemPath does: each "\" turned into kPathSeparator, unless
// SetNativePaths made it an ordinary character. False, and buffer unusable,
// when the path and its terminating zero do not fit or the path holds a
// zero byte: such a path must fail, never be cut short into the name of
// another file.
bool CopyPathToBuffer(const Text& path, char* buffer);

// Builds a listing's search path into buffer (kPathCapacity characters):
// folder, a separator unless folder is empty or already ends in one, then
// pattern, "*.*" when pattern is empty; "\" as in CopyPathToBuffer. False
// when the whole does not fit.
bool BuildSearchPath(const Text& folder, const Text& pattern, char* buffer);

#endif
