// Win32 back end of directory listings over FindFirstFileA, FindNextFileA and
// FindClose. Entries come in the file system's own order, "." and ".."
// included.
#include <windows.h>

#include "runtime/directory.h"
#include "runtime/directory_native.h"

namespace {

struct Search {
  HANDLE handle;
  WIN32_FIND_DATAA found;
};

Search* SearchOf(NativeListing listing) { return reinterpret_cast<Search*>(listing); }

}  // namespace

NativeListing NativeOpenListing(const char* search) {
  Search* found = static_cast<Search*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Search)));
  if (found == nullptr) return 0;
  found->handle = FindFirstFileA(search, &found->found);
  if (found->handle == INVALID_HANDLE_VALUE) {
    HeapFree(GetProcessHeap(), 0, found);
    return 0;
  }
  return reinterpret_cast<NativeListing>(found);
}

bool NativeNextEntry(NativeListing listing) {
  Search* search = SearchOf(listing);
  return FindNextFileA(search->handle, &search->found) != 0;
}

int NativeEntryKind(NativeListing listing) {
  return (SearchOf(listing)->found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kEntryDirectory
                                                                                : kEntryFile;
}

Text NativeEntryName(NativeListing listing) {
  // cFileName is zero-terminated within its MAX_PATH characters; bounded anyway.
  const char* name = SearchOf(listing)->found.cFileName;
  int length = 0;
  while (length < MAX_PATH && name[length]) length++;
  return Text(name, length);
}

void NativeCloseListing(NativeListing listing) {
  Search* search = SearchOf(listing);
  FindClose(search->handle);
  HeapFree(GetProcessHeap(), 0, search);
}
