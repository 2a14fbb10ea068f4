// The ancestor chain of a folder walk: a growable array of identities.
#include "archive/folder_walk.h"

#include <stdlib.h>

#include "runtime/file.h"

const int32_t kChainGrowthFolders = 16;

void InitFolderChain(FolderChain* chain) {
  chain->identities = nullptr;
  chain->known = nullptr;
  chain->count = 0;
  chain->capacity = 0;
}

int EnterFolder(FolderChain* chain, const Text& folder) {
  PathIdentity identity = {0, 0};
  int known = GetPathIdentity(folder, &identity);
  if (known) {
    for (int32_t i = 0; i < chain->count; ++i) {
      if (chain->known[i] && SameIdentity(chain->identities[i], identity)) return 0;
    }
  }
  if (chain->count == chain->capacity) {
    int32_t capacity = chain->capacity + kChainGrowthFolders;
    PathIdentity* identities =
        (PathIdentity*)realloc(chain->identities, sizeof(PathIdentity) * capacity);
    if (identities == nullptr) return 0;
    chain->identities = identities;
    int32_t* knownFlags = (int32_t*)realloc(chain->known, sizeof(int32_t) * capacity);
    if (knownFlags == nullptr) return 0;
    chain->known = knownFlags;
    chain->capacity = capacity;
  }
  chain->identities[chain->count] = identity;
  chain->known[chain->count] = known;
  chain->count++;
  return 1;
}

void LeaveFolder(FolderChain* chain) {
  if (chain->count > 0) chain->count--;
}

void FreeFolderChain(FolderChain* chain) {
  free(chain->identities);
  free(chain->known);
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
