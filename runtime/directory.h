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
#include "runtime/file_info.h"
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

// What the current entry's name itself was when the listing was made, a link
// not followed: kPathFile, kPathFolder, kPathSpecial or kPathLink
// (filesystem.h; on Windows any reparse point is a link); kPathNothing
// without a current entry or when the name was gone by then.
int EntryOwnKind(intptr_t listing);

// The identity of what the current entry's name itself is, a link not
// followed (POSIX: as the listing found it; Windows: looked up now). 1 on
// success; 0 without a current entry or when it cannot be had.
int EntryIdentity(intptr_t listing, PathIdentity* identity);

// Ends the listing and frees its number.
void CloseDirectoryListing(intptr_t listing);

// Ends every listing still open. Part of the runtime's exit clean-up.
void CloseAllListings();

// Held items: a folder, file or link opened once and kept, so that a walk
// reaches what lies below a folder through the folder it holds, never again
// through a path that another process may have changed meanwhile (a folder
// put back as a link to elsewhere). POSIX: a descriptor that only points
// (O_PATH); Windows: a handle that, for a folder, shares neither renaming
// nor removal, so that the path that lists it keeps reaching it. Handles,
// not numbers: 0 is none, and every call on 0 fails. Any thread may use
// items of its own.

// Holds what path leads to, links followed: a folder a user names may be a
// link. 0 when nothing can be reached there.
intptr_t HoldPath(const Text& path);

// Holds the item called name in the held folder folder: with followLink 0
// the name itself (a link stays a link), with 1 what a link there leads to.
// 0 when nothing of that name can be reached now, or for a name that holds
// a separator.
intptr_t HoldItemInFolder(intptr_t folder, const Text& name, int followLink);

// The held item's kind: kPathFile, kPathFolder, kPathSpecial, or kPathLink
// for a link held itself; kPathNothing for 0.
int HeldItemKind(intptr_t held);

// The held item's identity. 1 on success, 0 on failure.
int HeldItemIdentity(intptr_t held, PathIdentity* identity);

// Where the held item lies now, absolute and resolved as ResolvedPath gives
// it (filesystem.h), asked of the item itself, never of a name that leads
// there. The empty text when the system cannot tell (POSIX without /proc).
Text HeldItemPath(intptr_t held);

// Lets go of the held item.
void ReleaseHeldItem(intptr_t held);

// Starts a listing of the held folder with the pattern "*.*", numbered as
// OpenDirectoryListing's are; the same results.
intptr_t OpenHeldFolderListing(intptr_t n, intptr_t folder);

#endif
