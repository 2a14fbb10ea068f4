// POSIX back end of directory listings. Opening reads the whole folder at
// once, keeps the names that match the pattern as Windows would match them,
// and puts them in a fixed order: "." and "..", then the others by the bytes
// of their upper-cased forms, ties by the plain bytes (the order NTFS gives
// ASCII names), so that a walk, and an archive, come out the same anywhere.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "runtime/directory.h"
#include "runtime/directory_native.h"
#include "runtime/file.h"
#include "runtime/name_encoding.h"

namespace {

struct ListingEntry {
  char* name;
  char* key;  // the name upper-cased as Windows compares names; the sort key
  int32_t kind;
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

// Reads the entries of folder that match pattern, sorted. False when the
// folder cannot be read or memory is short.
bool ReadFolder(const char* folder, const char* pattern, ListingEntry** entries, int32_t* count) {
  *entries = nullptr;
  *count = 0;
  DIR* directory = opendir(folder);
  if (!directory) return false;
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
    // stat follows links: a link to a folder is a folder; a dangling one is
    // a file.
    struct stat status;
    bool folderEntry = fstatat(dirfd(directory), name, &status, 0) == 0 && S_ISDIR(status.st_mode);
    (*entries)[*count].name = name;
    (*entries)[*count].key = key;
    (*entries)[*count].kind = folderEntry ? kEntryDirectory : kEntryFile;
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
  ListingEntry* entries;
  int32_t count;
  if (!ReadFolder(where, wanted, &entries, &count)) return 0;
  // Like FindFirstFileA, a search that matches nothing fails.
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
