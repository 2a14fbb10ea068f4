// The ancestor chain of a folder walk (a growable array of identities) and
// the look at one entry of a held folder.
#include "archive/folder_walk.h"

#include <stdlib.h>

#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/filesystem.h"
#include "runtime/system.h"

namespace {

const int32_t kChainGrowthFolders = 16;

}  // namespace

void InitFolderChain(FolderChain* chain) {
  chain->links = nullptr;
  chain->count = 0;
  chain->capacity = 0;
}

int EnterFolder(FolderChain* chain, intptr_t heldFolder) {
  PathIdentity identity = {0, 0};
  int known = HeldItemIdentity(heldFolder, &identity);
  if (known) {
    for (int32_t i = 0; i < chain->count; ++i) {
      if (chain->links[i].known && SameIdentity(chain->links[i].identity, identity)) return 0;
    }
  }
  if (chain->count == chain->capacity) {
    int32_t capacity = chain->capacity + kChainGrowthFolders;
    ChainLink* links = static_cast<ChainLink*>(realloc(chain->links, sizeof(ChainLink) * capacity));
    if (links == nullptr) return 0;
    chain->links = links;
    chain->capacity = capacity;
  }
  chain->links[chain->count].identity = identity;
  chain->links[chain->count].known = known;
  chain->count++;
  return 1;
}

void LeaveFolder(FolderChain* chain) {
  if (chain->count > 0) chain->count--;
}

void FreeFolderChain(FolderChain* chain) {
  free(chain->links);
  InitFolderChain(chain);
}

void ReadWalkEntry(intptr_t listing, intptr_t folder, int identifyAll, WalkEntry* entry) {
  entry->name = EntryName(listing);
  entry->ownKind = EntryOwnKind(listing);
  entry->kind = entry->ownKind;
  entry->identity = {0, 0};
  entry->known = 0;
  if (identifyAll || entry->ownKind == kPathFolder) {
    entry->known = EntryIdentity(listing, &entry->identity);
  }
  entry->target = 0;
  entry->reason = 0;
  if (entry->ownKind != kPathLink) return;
  entry->target = HoldItemInFolder(folder, entry->name, 1);
  if (entry->target == 0) {
    entry->reason = LastSystemError();
    entry->kind = kPathNothing;
    entry->known = 0;
    return;
  }
  entry->kind = HeldItemKind(entry->target);
  entry->known = HeldItemIdentity(entry->target, &entry->identity);
}

intptr_t HoldFolderToEnter(intptr_t folder, WalkEntry* entry, int32_t* changed, int32_t* reason) {
  *changed = 0;
  *reason = 0;
  if (entry->target != 0) {
    intptr_t target = entry->target;
    entry->target = 0;
    return target;
  }
  intptr_t held = HoldItemInFolder(folder, entry->name, 0);
  if (held == 0) {
    *reason = LastSystemError();
    return 0;
  }
  // Not followed: a link put in the folder's place stays a link, and a
  // folder moved in from elsewhere is not the one listed.
  PathIdentity identity;
  if (HeldItemKind(held) != kPathFolder || !HeldItemIdentity(held, &identity) || !entry->known ||
      !SameIdentity(identity, entry->identity)) {
    ReleaseHeldItem(held);
    *changed = 1;
    return 0;
  }
  return held;
}

void ReleaseWalkEntry(WalkEntry* entry) {
  ReleaseHeldItem(entry->target);
  entry->target = 0;
}

int IsPathSeparator(char c) { return c == '/' || c == '\\' || c == kPathSeparator; }

int IsPathWithin(const Text& resolvedPath, const Text& resolvedFolder) {
  if (resolvedPath.IsEmpty() || resolvedFolder.IsEmpty()) return 0;
  int length = resolvedFolder.Length();
  if (resolvedPath.Middle(0, length) != resolvedFolder) return 0;
  // "/data" holds "/data/x" but not "/database"; a root ends in its separator.
  return resolvedPath.Length() == length || IsPathSeparator(resolvedFolder.Last()) ||
         IsPathSeparator(resolvedPath.At(length));
}
