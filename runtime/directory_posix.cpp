// POSIX back end of directory listings. Opening reads the whole folder at
// once, keeps the names that match the pattern as Windows would match them,
// and puts them in a fixed order: "." and "..", then the others by the bytes
// of their upper-cased forms, ties by the plain bytes (the order NTFS gives
// ASCII names), so that a walk, and an archive, come out the same anywhere.
// Held items are descriptors opened with O_PATH, which point at a file,
// folder or link without reading it; their handle is the descriptor + 1.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/directory.h"
#include "runtime/directory_native.h"
#include "runtime/file.h"
#include "runtime/file_native.h"
#include "runtime/filesystem.h"
#include "runtime/name_encoding.h"

namespace {

struct ListingEntry {
  char* name;
  char* key;  // the name upper-cased as Windows compares names; the sort key
  int32_t kind;
  int32_t ownKind;        // the name itself, a link not followed (a kPath value)
  PathIdentity identity;  // of the name itself, when ownKind is not kPathNothing
};

// The matching entries in delivery order; a search has at least one.
struct Search {
  ListingEntry* entries;
  int32_t count;
  int32_t position;  // the current entry's index
};

Search* SearchOf(NativeListing listing) { return reinterpret_cast<Search*>(listing); }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Wildcard match without regard to ASCII case: "*" any run, "?" one character.
bool MatchesWildcards(const char* name, const char* pattern) {
  const char* starPattern = nullptr;  // just after the last "*" seen
  const char* starName = nullptr;     // where that "*" has matched up to
  while (*name) {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == '?' || (*pattern && UpperAscii(*pattern) == UpperAscii(*name))) {
      pattern++;
      name++;
    } else if (starPattern) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') pattern++;
  return *pattern == 0;
}

// Windows lets a final ".*" match names without a dot too, so "*.*" is
// every name and "readme.*" finds "readme".
bool MatchesPattern(const char* name, const char* pattern) {
  if (MatchesWildcards(name, pattern)) return true;
  size_t length = strlen(pattern);
  if (length < 2 || pattern[length - 2] != '.' || pattern[length - 1] != '*') return false;
  char shorter[kPathCapacity];
  memcpy(shorter, pattern, length - 2);
  shorter[length - 2] = 0;
  return MatchesWildcards(name, shorter);
}

int DotRank(const char* name) {
  if (strcmp(name, ".") == 0) return 0;
  if (strcmp(name, "..") == 0) return 1;
  return 2;
}

// ".", "..", then the upper-cased names byte by byte (for UTF-8, code point
// order), ties broken by the plain bytes. Names that Windows takes for one
// thus come one right after the other.
int CompareEntries(const void* left, const void* right) {
  const ListingEntry* a = static_cast<const ListingEntry*>(left);
  const ListingEntry* b = static_cast<const ListingEntry*>(right);
  int rankA = DotRank(a->name), rankB = DotRank(b->name);
  if (rankA != rankB) return rankA - rankB;
  int byKey = strcmp(a->key, b->key);
  return byKey != 0 ? byKey : strcmp(a->name, b->name);
}

void FreeEntries(ListingEntry* entries, int32_t count) {
  for (int32_t i = 0; i < count; i++) {
    free(entries[i].name);
    free(entries[i].key);
  }
  free(entries);
}

// The kPath kind of a file mode.
int KindOfMode(mode_t mode) {
  if (S_ISLNK(mode)) return kPathLink;
  if (S_ISREG(mode)) return kPathFile;
  if (S_ISDIR(mode)) return kPathFolder;
  return kPathSpecial;
}

// Reads the entries of the open directory that match pattern, sorted, and
// closes it. False when memory is short.
bool ReadFolder(DIR* directory, const char* pattern, ListingEntry** entries, int32_t* count) {
  *entries = nullptr;
  *count = 0;
  int32_t capacity = 0;
  bool sound = true;
  while (struct dirent* item = readdir(directory)) {
    if (!MatchesPattern(item->d_name, pattern)) continue;
    if (*count == capacity) {
      int32_t grown = capacity ? capacity * 2 : 64;
      ListingEntry* larger =
          static_cast<ListingEntry*>(realloc(*entries, grown * sizeof(ListingEntry)));
      if (!larger) {
        sound = false;
        break;
      }
      *entries = larger;
      capacity = grown;
    }
    char* name = strdup(item->d_name);
    char* key = name ? strdup(UpperCasedName(Text(name)).c_str()) : nullptr;
    if (!name || !key) {
      free(name);
      sound = false;
      break;
    }
    ListingEntry* entry = &(*entries)[*count];
    entry->name = name;
    entry->key = key;
    entry->ownKind = kPathNothing;
    entry->identity = {0, 0};
    // The name itself, looked at under the open folder, so that what is
    // recorded belongs to this very folder. A link to a folder counts as a
    // folder, a dangling one as a file.
    struct stat status;
    if (fstatat(dirfd(directory), name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
      entry->ownKind = KindOfMode(status.st_mode);
      entry->identity.volume = static_cast<uint64_t>(status.st_dev);
      entry->identity.object = static_cast<uint64_t>(status.st_ino);
    }
    bool folderEntry = entry->ownKind == kPathFolder;
    if (entry->ownKind == kPathLink) {
      folderEntry = fstatat(dirfd(directory), name, &status, 0) == 0 && S_ISDIR(status.st_mode);
    }
    entry->kind = folderEntry ? kEntryDirectory : kEntryFile;
    (*count)++;
  }
  closedir(directory);
  if (!sound) {
    FreeEntries(*entries, *count);
    *entries = nullptr;
    *count = 0;
    return false;
  }
  if (*count > 1) qsort(*entries, *count, sizeof(ListingEntry), CompareEntries);
  return true;
}

// A search over the open directory with pattern; 0 when memory is short or,
// like FindFirstFileA, when nothing matches.
NativeListing StartSearch(DIR* directory, const char* pattern) {
  ListingEntry* entries;
  int32_t count;
  if (!ReadFolder(directory, pattern, &entries, &count)) return 0;
  Search* found = count > 0 ? static_cast<Search*>(malloc(sizeof(Search))) : nullptr;
  if (found == nullptr) {
    FreeEntries(entries, count);
    return 0;
  }
  found->entries = entries;
  found->count = count;
  found->position = 0;
  return reinterpret_cast<NativeListing>(found);
}

int HeldDescriptor(intptr_t held) { return static_cast<int>(held - 1); }

}  // namespace

NativeListing NativeOpenListing(const char* searchPath) {
  char search[kPathCapacity];
  memcpy(search, searchPath, strlen(searchPath) + 1);
  // Split as Windows would: the folder is everything before the last
  // separator, the pattern everything after it.
  char* slash = strrchr(search, '/');
  const char* where = ".";
  const char* wanted = search;
  if (slash == search) {
    where = "/";
    wanted = search + 1;
  } else if (slash) {
    *slash = 0;
    where = search;
    wanted = slash + 1;
  }
  DIR* directory = opendir(where);
  return directory != nullptr ? StartSearch(directory, wanted) : 0;
}

NativeListing NativeOpenHeldListing(intptr_t folder) {
  // The held descriptor only points; the folder is opened for reading
  // through it, the same folder whatever its name leads to by now.
  int descriptor = openat(HeldDescriptor(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return 0;
  DIR* directory = fdopendir(descriptor);
  if (directory == nullptr) {
    close(descriptor);
    return 0;
  }
  return StartSearch(directory, "*.*");
}

bool NativeNextEntry(NativeListing listing) {
  Search* search = SearchOf(listing);
  if (search->position < search->count) search->position++;
  return search->position < search->count;
}

int NativeEntryKind(NativeListing listing) {
  const Search* search = SearchOf(listing);
  return search->entries[search->position].kind;
}

Text NativeEntryName(NativeListing listing) {
  const Search* search = SearchOf(listing);
  return Text(search->entries[search->position].name);
}

void NativeCloseListing(NativeListing listing) {
  Search* search = SearchOf(listing);
  FreeEntries(search->entries, search->count);
  free(search);
}

int NativeEntryOwnKind(NativeListing listing) {
  const Search* search = SearchOf(listing);
  return search->entries[search->position].ownKind;
}

int NativeEntryIdentity(NativeListing listing, PathIdentity* identity) {
  const Search* search = SearchOf(listing);
  const ListingEntry& entry = search->entries[search->position];
  if (entry.ownKind == kPathNothing) return 0;
  *identity = entry.identity;
  return 1;
}

namespace {

intptr_t FromHeldDescriptor(int descriptor) { return descriptor < 0 ? 0 : descriptor + 1; }

}  // namespace

intptr_t HoldPath(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  return FromHeldDescriptor(open(name, O_PATH | O_CLOEXEC));
}

intptr_t HoldItemInFolder(intptr_t folder, const Text& name, int followLink) {
  // One name below the folder, never a path through further folders.
  if (folder == 0 || name.IsEmpty() || strchr(name.c_str(), '/') != nullptr ||
      static_cast<int>(strlen(name.c_str())) != name.Length()) {
    return 0;
  }
  int flags = O_PATH | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  return FromHeldDescriptor(openat(HeldDescriptor(folder), name.c_str(), flags));
}

int HeldItemKind(intptr_t held) {
  struct stat status;
  if (held == 0 || fstat(HeldDescriptor(held), &status) != 0) return kPathNothing;
  return KindOfMode(status.st_mode);
}

int HeldItemIdentity(intptr_t held, PathIdentity* identity) {
  struct stat status;
  if (held == 0 || identity == nullptr || fstat(HeldDescriptor(held), &status) != 0) return 0;
  identity->volume = static_cast<uint64_t>(status.st_dev);
  identity->object = static_cast<uint64_t>(status.st_ino);
  return 1;
}

Text HeldItemPath(intptr_t held) {
  if (held == 0) return Text();
  // The kernel names the object a descriptor points at under /proc; a name
  // that leads there would only say where it led a moment ago.
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", HeldDescriptor(held));
  char path[kPathCapacity];
  ssize_t length = readlink(link, path, sizeof path);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof path) || path[0] != '/') return Text();
  return Text(path, static_cast<int>(length));
}

void ReleaseHeldItem(intptr_t held) {
  if (held != 0) close(HeldDescriptor(held));
}
