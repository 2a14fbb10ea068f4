// CountFiles walks depth first with one listing open per level; the name
// draw repeats until a free name comes up or every name has been seen taken.
#include "pack/prepare.h"

#include "archive/folder_walk.h"
#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/random.h"

namespace {

void CountInto(const Text& folderIn, FolderChain* chain, int32_t* total) {
  Text folder = folderIn;
  if (!IsPathSeparator(folder.Last())) folder += kPathSeparator;
  intptr_t listing = OpenDirectoryListing(kAnyNumber, folder, "*.*");
  if (listing == 0) return;
  while (NextEntry(listing)) {
    int kind = EntryKind(listing);
    Text name = EntryName(listing);
    if (name == "." || name == "..") continue;
    if (kind == kEntryFile) {
      ++*total;
    } else if (kind == kEntryDirectory) {
      Text path = folder + name;
      if (EnterFolder(chain, path)) {
        CountInto(path, chain, total);
        LeaveFolder(chain);
      }
    }
  }
  CloseDirectoryListing(listing);
}

}  // namespace

int32_t CountFiles(const Text& folderIn) {
  Text folder = folderIn;
  if (!IsPathSeparator(folder.Last())) folder += kPathSeparator;
  int32_t total = 0;
  FolderChain chain;
  InitFolderChain(&chain);
  if (EnterFolder(&chain, folder)) {
    CountInto(folder, &chain, &total);
    LeaveFolder(&chain);
  }
  FreeFolderChain(&chain);
  return total;
}

Text MakeTempArchiveName(const Text& prefix) {
  Text dir = TempDirectory();
  char seenTaken[kTempNameCount] = {0};
  int32_t takenCount = 0;
  while (takenCount < kTempNameCount) {
    int32_t n = RandomUpTo(kTempNameCount - 1);
    Text name = dir + prefix + DecimalText(n);
    if (PathSize(name) == -1) return name;
    if (!seenTaken[n]) {
      seenTaken[n] = 1;
      ++takenCount;
    }
  }
  return Text();
}
