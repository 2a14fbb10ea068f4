// Facts about files and folders that the archive writer needs beyond their
// size: the last-write time as local calendar fields, and an identity that
// tells whether two paths reach the same folder (for link loops).
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

#endif
