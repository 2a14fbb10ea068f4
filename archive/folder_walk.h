// What the Folder archiver's walk and the Maker's file count share: the
// chain of folders a depth-first walk is inside of, and the look at each
// entry of a folder. Both walks hold every folder they are in and reach
// what lies inside it through the folder held, never again through a path:
// a folder that another process swaps for a link to elsewhere meanwhile is
// not entered, and a link is followed only on purpose, to the very object
// it led to when the walk looked. Both consult the chain before they
// descend, so a folder link that leads back to one of its own ancestors is
// never followed again, and both walks skip exactly the same links.
#ifndef VEZOVUD_ARCHIVE_FOLDER_WALK_H
#define VEZOVUD_ARCHIVE_FOLDER_WALK_H

#include <stdint.h>

#include "runtime/file_info.h"
#include "runtime/text.h"

// A folder entered: its identity, when that could be read.
struct ChainLink {
  PathIdentity identity;
  int32_t known;
};

struct FolderChain {
  ChainLink* links;  // one per folder entered, outermost first
  int32_t count;
  int32_t capacity;
};

// An empty chain; it owns no memory until the first EnterFolder.
void InitFolderChain(FolderChain* chain);

// Asks to descend into the held folder (runtime/directory.h). 1: the folder
// is not one of the chain's folders (or its identity cannot be read, when it
// is entered blindly) and has been pushed; the caller must LeaveFolder when
// done. 0: the folder is already on the chain, that is, a link loop; nothing
// was pushed. Memory shortage also gives 0, so a walk never descends
// without a record.
int EnterFolder(FolderChain* chain, intptr_t heldFolder);

// Pops the innermost folder.
void LeaveFolder(FolderChain* chain);

// Releases the chain's memory.
void FreeFolderChain(FolderChain* chain);

// The current entry of a listing of a held folder, as a walk sees it.
struct WalkEntry {
  Text name;
  int32_t ownKind;  // the name itself (a kPath value of runtime/filesystem.h): kPathLink for a link
  int32_t kind;     // what it leads to: ownKind, a link's target's kind, kPathNothing when gone
  PathIdentity identity;  // of what it leads to
  int32_t known;          // 1 when identity was read
  intptr_t target;        // a link's target, held; 0 for anything else
  int32_t reason;         // the system's reason when a link's target could not be reached
};

// Reads the current entry of listing, a listing of the held folder folder.
// A link is followed here, once, and its target held, so that whatever the
// walk does with it afterwards concerns the very object the link led to.
// The identity is read for folders and links' targets, and for everything
// else with identifyAll 1 (on Windows each costs an opening). Release the
// entry with ReleaseWalkEntry.
void ReadWalkEntry(intptr_t listing, intptr_t folder, int identifyAll, WalkEntry* entry);

// The folder to descend into for entry, held: a link's target (taken over
// from entry), or the folder of that name opened anew under folder without
// following a link, which must still be the folder listed. 0 when there is
// none: *changed 1 when the name no longer leads to the folder listed
// (another process has changed it since), 0 when it could not be opened,
// *reason then holding the system's reason.
intptr_t HoldFolderToEnter(intptr_t folder, WalkEntry* entry, int32_t* changed, int32_t* reason);

// Lets go of what entry still holds.
void ReleaseWalkEntry(WalkEntry* entry);

// An item of a walk's list: its full path, a malloc'd copy, what the walk
// found there and the identity of that. The file opened to be read must
// still be that one: a file put in its place afterwards, or a folder on its
// way swapped for a link leading out, is not what the walk looked at. known
// is 0 for a folder entry, and for a name that reached nothing then.
struct ListedItem {
  char* path;
  PathIdentity identity;
  int32_t known;
  int32_t kind;  // kPathFolder for a folder entry; else what the name led to
};

// 1 when the resolved path (runtime/filesystem.h, ResolvedPath) is the
// resolved folder itself or lies below it. Both must be resolved: only then
// does the text tell where a path leads.
int IsPathWithin(const Text& resolvedPath, const Text& resolvedFolder);

// 1 when c ends a folder path: "\" and "/" on every platform (the POSIX
// runtime takes "\" for "/"), and the platform's separator.
int IsPathSeparator(char c);

#endif
