// The ancestor chain of a folder walk: a growable array of identities.
#include "archive/folder_walk.h"

#include <stdlib.h>

#include "runtime/file.h"

namespace {

const int32_t kChainGrowthFolders = 16;

}  // namespace

void InitFolderChain(FolderChain* chain) {
  chain->links = nullptr;
  chain->count = 0;
  chain->capacity = 0;
}

int EnterFolder(FolderChain* chain, const Text& folder) {
  PathIdentity identity = {0, 0};
  int known = GetPathIdentity(folder, &identity);
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

int IsPathSeparator(char c) { return c == '/' || c == '\\' || c == kPathSeparator; }

int IsPathWithin(const Text& resolvedPath, const Text& resolvedFolder) {
  if (resolvedPath.IsEmpty() || resolvedFolder.IsEmpty()) return 0;
  int length = resolvedFolder.Length();
  if (resolvedPath.Middle(0, length) != resolvedFolder) return 0;
  // "/data" holds "/data/x" but not "/database"; a root ends in its separator.
  return resolvedPath.Length() == length || IsPathSeparator(resolvedFolder.Last()) ||
         IsPathSeparator(resolvedPath.At(length));
}
