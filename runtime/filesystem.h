// Folder creation and file times: the file-system services that the archive
// reader needs beyond numbered files (file.h) and replacement (file_replace.h).
// Paths may use "\" or the platform's separator; paths longer than
// kPathCapacity fail, never cut short.
#ifndef VEZOVUD_RUNTIME_FILESYSTEM_H
#define VEZOVUD_RUNTIME_FILESYSTEM_H

#include "runtime/file_info.h"
#include "runtime/text.h"

// Creates every folder named along path up to its last separator, the way a
// folder chain is made before a file is written into it: "a\b\c" creates
// "a" and "a\b"; "a\b\" creates the same two. Folders that exist already are
// kept. 1 when the last of those folders exists afterwards (also when path
// has no separator at all); 0 on failure or for a path that is too long.
int MakePath(const Text& path);

// 1 when path itself is a link, which is not followed: a symbolic link on
// POSIX; a reparse point (a symbolic link or a junction) on Windows. 0 for
// anything else, and when nothing of that name exists or the path is too
// long.
int IsLinkPath(const Text& path);

// Sets the last-write time of the existing file at path to fields, read on
// the local wall clock. Windows converts with the time-zone bias in force now
// (LocalFileTimeToFileTime); POSIX with the rules
// in force at that date (mktime), so the two can differ by a daylight-saving
// hour for dates in the other season.
// The creation and last-access times stay. 1 on success; 0 when the file
// cannot be opened for writing, the fields are no valid date and time, or the
// system refuses the time. Years up to 9999 work; nothing breaks after 2037.
int SetFileWriteTime(const Text& path, const LocalTimeFields& fields);

#endif
