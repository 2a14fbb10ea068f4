// The chain of folders that a depth-first walk is inside of. The Folder
// archiver's walk and the Maker's file count both consult it before they
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

// Asks to descend into folder. 1: the folder is not one of the chain's
// folders (or its identity cannot be read, when it is entered blindly) and
// has been pushed; the caller must LeaveFolder when done. 0: the folder is
// already on the chain, that is, a link loop; nothing was pushed. Memory
// shortage also gives 0, so a walk never descends without a record.
int EnterFolder(FolderChain* chain, const Text& folder);

// Pops the innermost folder.
void LeaveFolder(FolderChain* chain);

// Releases the chain's memory.
void FreeFolderChain(FolderChain* chain);

// An item of a walk's list: its full path, a malloc'd copy, and the identity
// of what the path reached when the walk listed it. The file opened to be
// read must still be that one: a file put in its place afterwards, a link
// leading out among them, is not what the walk looked at. known is 0 for a
// folder entry, and for a name that reached nothing then.
struct ListedItem {
  char* path;
  PathIdentity identity;
  int32_t known;
};

// 1 when the resolved path (runtime/filesystem.h, ResolvedPath) is the
// resolved folder itself or lies below it. Both must be resolved: only then
// does the text tell where a path leads.
int IsPathWithin(const Text& resolvedPath, const Text& resolvedFolder);

// 1 when c ends a folder path: "\" and "/" on every platform (the POSIX
// runtime takes "\" for "/"), and the platform's separator.
int IsPathSeparator(char c);

#endif
