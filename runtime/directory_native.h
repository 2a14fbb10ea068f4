// What the portable directory service (directory.cpp) needs from the
// platform: one search over a folder, its entries delivered one at a time,
// behind an opaque handle. directory_win32.cpp and directory_posix.cpp
// implement it.
#ifndef VEZOVUD_RUNTIME_DIRECTORY_NATIVE_H
#define VEZOVUD_RUNTIME_DIRECTORY_NATIVE_H

#include <stdint.h>

#include "runtime/file_info.h"
#include "runtime/text.h"

// A platform search; 0 is none.
typedef intptr_t NativeListing;

// Starts a search of the held folder (directory.h) with its first entry
// current; 0 when the folder cannot be searched.
NativeListing NativeOpenHeldListing(intptr_t folder);

// Starts a search for search (a folder, a separator and a pattern, built by
// BuildSearchPath) with its first entry current; 0 when the folder cannot be
// searched or nothing matches.
NativeListing NativeOpenListing(const char* search);

// Makes the next entry current; false after the last one.
bool NativeNextEntry(NativeListing listing);

// The current entry's kind (kEntryDirectory or kEntryFile) and name.
int NativeEntryKind(NativeListing listing);
Text NativeEntryName(NativeListing listing);

// The current entry's own kind and identity, a link not followed
// (directory.h, EntryOwnKind and EntryIdentity).
int NativeEntryOwnKind(NativeListing listing);
int NativeEntryIdentity(NativeListing listing, PathIdentity* identity);

void NativeCloseListing(NativeListing listing);

#endif
