// Numbered files: open files are known by a number the caller chooses
// (0, 1, 2, ...) or, when the caller passes kAnyNumber, by the identifier
// that the opening call returns. Each file has a 4096-byte buffer used for
// reading or for writing, never both at once.
//
// Numbers run from 0 to kNumberLimit - 1; identifiers lie above them, so the
// two never meet. Opening under any other value fails (0) before the file is
// touched. Opening under a number that already holds a file closes that file
// (flushed) once the new one has opened; a failed opening leaves it open.
// Every operation on a number that is not open does nothing and returns 0
// (FileLength: -1; EndOfFile: nonzero, so no read loop can spin on a file
// that is not there).
//
// On POSIX "\" in a path means "/", unless SetNativePaths says otherwise.
// Paths are limited to kPathCapacity bytes including the terminating zero:
// 260 on Windows, where paths are in the ANSI code page, and 4,096 on POSIX.
// A longer path fails like a missing one (0, -1 or the empty text), never
// with a cut name. On Windows an extended path, "\\?\" followed by a full
// path in UTF-8, reaches the wide functions instead and may take up to
// kExtendedPathCapacity UTF-16 characters (filesystem.h, LandingPath).
#ifndef VEZOVUD_RUNTIME_FILE_H
#define VEZOVUD_RUNTIME_FILE_H

#include <stdint.h>

#include "runtime/text.h"

// The folder separator of the platform: "\" on Windows, "/" on POSIX.
extern const char kPathSeparator;

// 1 where file names are UTF-8 (POSIX), 0 where they are in the ANSI code
// page (Windows). Archives store such names with the UTF-8 flag, or without.
extern const int kNamesAreUtf8;

const int kPathCapacity = VEZOVUD_PATH_CAPACITY;  // bytes of a path, terminating zero included
const int kExtendedPathCapacity = 32767;          // UTF-16 characters of an extended path
const int kAnyNumber = -1;                        // "pick a record and return its identifier"
const int kNumberLimit = 100000;  // numbers the caller may choose: 0 .. kNumberLimit - 1
const int kFileBufferBytes = 4096;

// Opens an existing file for reading, shared for reading. Nonzero on success
// (the platform handle for a numbered file, the identifier for kAnyNumber).
intptr_t OpenFileForReading(intptr_t n, const Text& path);

// Creates a file for writing, or empties an existing one. Nonzero on success.
// The file is open for writing only: reads from it deliver nothing.
intptr_t CreateFileForWriting(intptr_t n, const Text& path);

// Creates a new file for writing, exclusively: fails (0) when anything of
// that name exists already, a file, a folder or a link (never followed), so
// a name planted by someone else is never written through. Nonzero on
// success.
intptr_t CreateNewFileForWriting(intptr_t n, const Text& path);

// Opens an existing regular file for writing over it in place, emptied once
// it has been looked at: never through a link (not followed), and never a
// file with another name as well (a hard link), since the bytes would reach
// that other name too, wherever it lies. Nonzero on success.
intptr_t OpenFileForOverwriting(intptr_t n, const Text& path);

// Marks the file open under the number n as in use by this process until it
// is closed, so that RemoveFileLeftBehind leaves it alone: POSIX an
// exclusive lock (flock), which the system drops when the process ends,
// however it ends; Windows nothing (a file open in one process is removed
// by another only when shared for that). 1 on success.
int MarkFileInUse(intptr_t n);

// Removes the file at path when it is one that a run left behind: a plain
// file, not through a link, with no other name, owned by the user this
// process runs as, that no running process has marked in use. 1 when it was
// removed; 0 otherwise. Windows: does nothing and returns 0.
int RemoveFileLeftBehind(const Text& path);

// The file's length, counting the bytes still waiting in the write buffer;
// -1 for a number not in use.
int64_t FileLength(intptr_t n);

// Buffered read of up to length bytes; returns the number delivered, which
// falls short of length only at the end of the file. Bytes still waiting to be
// written are written first. A null destination or a length of 0 or less
// delivers nothing.
int32_t ReadBytes(intptr_t n, void* destination, int32_t length);

// 0 when another byte can be read, else nonzero. The byte it looks at is
// delivered again by the next read.
int EndOfFile(intptr_t n);

// Buffered write; returns the bytes accepted. A null source or a length of
// 0 or less writes nothing and returns 0. So does a file opened for reading,
// and a write that finds the file refusing the bytes buffered before it
// (those bytes are dropped, and the 0 tells the caller the file is damaged).
int32_t WriteBytes(intptr_t n, const void* source, int32_t length);

// Writes the 4 bytes of value, least significant first; returns 4.
int32_t WriteInt32(intptr_t n, int32_t value);

// Flushes the buffer, closes the file and frees the number. kAnyNumber and
// numbers not in use do nothing.
void CloseFileNumber(intptr_t n);

// Deletes a file. Nonzero on success.
int RemoveFile(const Text& path);

// Deletes the file at path only when it is a regular file of this user's:
// not a link (never followed), a folder or anything else, and on POSIX
// owned by the user the process runs as (Windows has no owner check). For
// leftovers of the program's own, found by name in folders that others may
// write to. 1 when it was removed; 0 otherwise, when nothing changed.
int RemoveOwnPlainFile(const Text& path);

// Bytes a path in the system's own form may take, terminating zero
// included: kPathCapacity on POSIX; on Windows room for an extended path in
// UTF-8 (three bytes for each of kExtendedPathCapacity characters).
extern const int32_t kSystemPathBytes;

// Copies path into buffer (capacity bytes) as the calls here hand it to the
// system: "\" made the separator where that applies (see SetNativePaths).
// 1 on success; 0, with buffer unusable, when it does not fit or holds a zero
// byte.
int CopySystemPath(const Text& path, char* buffer, int32_t capacity);

// Deletes the file whose path CopySystemPath gave. On POSIX it allocates no
// memory and takes no lock (unlink(2) alone), so that a signal handler may
// call it; on Windows it may allocate (the console's handlers run on a
// thread of their own there). Nonzero on success.
int RemoveFileAtSystemPath(const char* systemPath);

// How "\" in a path is taken on POSIX: as "/" (native 0, the start state,
// for the programs' paths that come from Windows' conventions), or as the
// ordinary character that the system takes it for (native 1, for paths that
// a user typed on the command line, such as "x\y", a folder of that name).
// The separator is "/" either way. Windows: "\" is the separator whatever
// this says. One setting for the whole process, made before other threads
// start.
void SetNativePaths(int native);

// The size of a file, -2 for a folder or a drive root, -1 when nothing of that
// name exists (or the path is empty or too long). One trailing separator is
// ignored.
int64_t PathSize(const Text& path);

// The user's temporary folder in its long form, ending in the separator; the
// empty text when it cannot be had. On POSIX: $TMPDIR when it names an
// existing folder, else /tmp.
Text TempDirectory();

// Plain files: no number, no buffer and no shared table, so that several
// threads may each use files of their own at the same time. Handles are
// nonzero; 0 is no file, and every call on it does nothing (length -1).
//
// OpenPlainFileForReading opens an existing file as OpenFileForReading does;
// CreateNewPlainFile creates one exclusively as CreateNewFileForWriting does.
// ReadPlainFile delivers up to length bytes, fewer only at the end of the
// file or on a failure; WritePlainFile returns the bytes written, fewer on a
// failure. PlainFileLength gives the length on disk, -1 when it cannot be
// had. SeekPlainFile moves to an offset from the start, 64-bit on every
// platform: nonzero on success, 0 for a negative offset. ClosePlainFile
// closes the file.
intptr_t OpenPlainFileForReading(const Text& path);
intptr_t CreateNewPlainFile(const Text& path);
int32_t ReadPlainFile(intptr_t file, void* destination, int32_t length);
int32_t WritePlainFile(intptr_t file, const void* source, int32_t length);
int64_t PlainFileLength(intptr_t file);
int SeekPlainFile(intptr_t file, int64_t offset);
void ClosePlainFile(intptr_t file);

// Closes every open file, flushing each. Part of the runtime's exit clean-up.
void CloseAllFiles();

#endif
