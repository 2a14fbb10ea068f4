// Facts about files and folders that the archive writer needs beyond their
// size: the last-write time as local calendar fields, an identity that
// tells whether two paths reach the same folder (for link loops), and the
// state of an open file that tells whether it changed while it was read.
#ifndef VEZOVUD_RUNTIME_FILE_INFO_H
#define VEZOVUD_RUNTIME_FILE_INFO_H

#include <stdint.h>

#include "runtime/text.h"

// A time on the local wall clock: year in full, month 1..12, day 1..31,
// hour 0..23, minute and second 0..59.
struct LocalTimeFields {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

// The last-write time of the file at path, on the local clock, milliseconds
// dropped. The file is opened for reading, shared for reading and writing, to
// take its time, so a folder always fails, as does a file that cannot be
// opened. 1 on success; 0 on failure, with fields untouched.
int GetFileModificationTime(const Text& path, LocalTimeFields* fields);

// Which object of which volume a path reaches, links followed.
struct PathIdentity {
  uint64_t volume;
  uint64_t object;
};

// The identity of the file or folder at path. 1 on success, 0 when the path
// cannot be reached (missing, no permission, too long).
int GetPathIdentity(const Text& path, PathIdentity* identity);

// The identity of the file open under the number n (file.h), taken from the
// open file itself, so that no other file put under its name in between can
// answer. 1 on success, 0 for a number not in use or on failure.
int GetOpenFileIdentity(intptr_t n, PathIdentity* identity);

// The identity of the plain file open as file (file.h), taken from the open
// file itself. 1 on success, 0 for no file or on failure.
int GetPlainFileIdentity(intptr_t file, PathIdentity* identity);

// 1 when both identities name the same object.
int SameIdentity(const PathIdentity& a, const PathIdentity& b);

// File times count nanoseconds since 1970-01-01 00:00:00 UTC, in the steps
// the file system keeps (100 ns on Windows, whole seconds on some).

// An open file as it is at one moment: whatever writes to it, truncates it
// or puts another file in its place changes one of these.
struct FileState {
  PathIdentity identity;
  int64_t size;
  int64_t writeTime;   // the last write of its data
  int64_t changeTime;  // POSIX: the last change of its data or its facts, which
                       // no one can set back; Windows: the last write again
};

// The state of the file open under the number n (file.h), or of the plain
// file file, taken from the open file itself. A write takes its time when
// it begins, so a write still under way, or a second one within the same
// tick of the clock, leaves every time as it was. With settle 1 the state is
// therefore taken once no write is under way (where the system lets a reader
// wait for one: POSIX on ext4, btrfs and tmpfs; Windows, where files are
// read without sharing writes) and the file has been left alone for 100
// milliseconds by the clock, 2 seconds when its time has whole seconds only
// (a file system that keeps no finer ones); only such a state tells a later
// look about every change. A time further ahead of the clock than 2.5
// seconds (a clock set back) is not waited for. 1 on success; 0 for no file
// or on failure; -1 (settle only) when the file was written to meanwhile,
// *state holding its latest state.
int GetOpenFileState(intptr_t n, FileState* state, int settle);
int GetPlainFileState(intptr_t file, FileState* state, int settle);

// 1 when the two states are the same in every part.
int SameFileState(const FileState& a, const FileState& b);

// The wall clock as the file system reads it for the times it records, in
// the unit of file times.
int64_t FileClockNow();

// The local wall-clock fields of a file time, milliseconds dropped. 1 on
// success; 0 when the time cannot be turned into calendar fields.
int LocalTimeOfFileTime(int64_t time, LocalTimeFields* fields);

#endif
