// CountFiles walks depth first, holding the folder of each level (the same
// walk as the archiver's, archive/folder_walk.h); the name draw repeats until
// a free name comes up or every name has been seen taken.
#include "pack/prepare.h"

#include "archive/folder_walk.h"
#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/filesystem.h"
#include "runtime/random.h"

namespace {

void CountInto(intptr_t folder, FolderChain* chain, int32_t* total) {
  intptr_t listing = OpenHeldFolderListing(kAnyNumber, folder);
  if (listing == 0) return;
  while (NextEntry(listing)) {
    WalkEntry entry;
    ReadWalkEntry(listing, folder, 0, &entry);
    if (entry.name != "." && entry.name != "..") {
      if (entry.kind != kPathFolder) {
        ++*total;
      } else {
        int32_t changed = 0;
        int32_t reason = 0;
        intptr_t sub = HoldFolderToEnter(folder, &entry, &changed, &reason);
        if (sub != 0 && EnterFolder(chain, sub)) {
          CountInto(sub, chain, total);
          LeaveFolder(chain);
        }
        ReleaseHeldItem(sub);
      }
    }
    ReleaseWalkEntry(&entry);
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
  intptr_t root = HoldPath(folder);
  if (HeldItemKind(root) == kPathFolder && EnterFolder(&chain, root)) {
    CountInto(root, &chain, &total);
    LeaveFolder(&chain);
  }
  ReleaseHeldItem(root);
  FreeFolderChain(&chain);
  return total;
}

Text MakeTempArchiveName(const Text& prefix) {
  return MakeTempArchiveNameIn(TempDirectory(), prefix);
}

Text MakeTempArchiveNameIn(const Text& dir, const Text& prefix) {
  if (dir.IsEmpty()) return Text();
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
