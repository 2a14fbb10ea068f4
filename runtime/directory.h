// Directory listings, numbered like files. A listing delivers every entry
// that matches its pattern, "." and ".." included, one per NextEntry.
//
// Order: on Windows the file system's own order. On POSIX "." and ".." come
// first, then the other names sorted by the bytes of their upper-cased forms,
// ties broken by the plain bytes. That is how NTFS orders ASCII names, so the
// same folder gives the same walk, and the same archive, on either system.
#ifndef VEZOVUD_RUNTIME_DIRECTORY_H
#define VEZOVUD_RUNTIME_DIRECTORY_H

#include <stdint.h>

#include "runtime/file.h"
#include "runtime/text.h"

const int kEntryNone = 0;
const int kEntryFile = 1;
const int kEntryDirectory = 2;

// Starts a listing of folder + separator + pattern (the separator only when
// folder is not empty and does not end in one; an empty pattern means "*.*").
// Patterns match as on Windows, without regard to case: "*" any run of
// characters, "?" one character, and "*.*" every name, with a dot or not.
// Returns nonzero (for kAnyNumber the listing's identifier), or 0 when the
// folder cannot be searched, nothing matches, or the search path would not
// fit kPathCapacity. Numbers are those of files (0 .. kNumberLimit - 1). An
// earlier listing under n is ended first.
intptr_t OpenDirectoryListing(intptr_t n, const Text& folder, const Text& pattern);

// Makes the next entry current; nonzero while there is one. Before the first
// call and after the last entry no entry is current.
int NextEntry(intptr_t listing);

// kEntryDirectory when the current entry is a folder (a link to a folder
// counts as a folder), kEntryFile for anything else, kEntryNone without one.
int EntryKind(intptr_t listing);

// The current entry's name, without the folder; the empty text without one.
Text EntryName(intptr_t listing);

// Ends the listing and frees its number.
void CloseDirectoryListing(intptr_t listing);

// Ends every listing still open. Part of the runtime's exit clean-up.
void CloseAllListings();

#endif
