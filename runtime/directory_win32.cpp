// Win32 back end of directory listings over FindFirstFileA, FindNextFileA and
// FindClose. Entries come in the file system's own order, "." and ".."
// included; the table of listings is the same kind as that of files.
#include <windows.h>

#include "runtime/directory.h"
#include "runtime/file_native.h"
#include "runtime/numbered_table.h"

namespace {

// handle: the search; started: 0 until the first NextEntry; current: an entry
// is current in found.
struct ListingRecord {
  HANDLE handle;
  int32_t started;
  int32_t current;
  WIN32_FIND_DATAA found;
};

NumberedTable<ListingRecord> gListings;

ListingRecord* CurrentRecord(intptr_t listing) {
  ListingRecord* record = FindRecord(gListings, listing);
  return (record && record->current) ? record : nullptr;
}

}  // namespace

intptr_t OpenDirectoryListing(intptr_t n, const Text& folder, const Text& pattern) {
  if (!IsUsableNumber(n)) return 0;
  CloseDirectoryListing(n);

  char search[kPathCapacity];
  if (!BuildSearchPath(folder, pattern, search)) return 0;
  intptr_t id = ReserveRecord(gListings, n);
  if (id < 0) return 0;
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileA(search, &found);
  if (handle == INVALID_HANDLE_VALUE) return 0;

  ListingRecord* record = RecordSlot(gListings, id);
  record->handle = handle;
  record->started = 0;
  record->current = 0;
  record->found = found;
  return n == kAnyNumber ? id : reinterpret_cast<intptr_t>(handle);
}

int NextEntry(intptr_t listing) {
  ListingRecord* record = FindRecord(gListings, listing);
  if (!record) return 0;
  if (!record->started) {
    // FindFirstFileA has already made the first entry.
    record->started = 1;
    record->current = 1;
    return 1;
  }
  if (!record->current) return 0;
  record->current = FindNextFileA(record->handle, &record->found) ? 1 : 0;
  return record->current;
}

int EntryKind(intptr_t listing) {
  ListingRecord* record = CurrentRecord(listing);
  if (!record) return kEntryNone;
  return (record->found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kEntryDirectory
                                                                      : kEntryFile;
}

Text EntryName(intptr_t listing) {
  ListingRecord* record = CurrentRecord(listing);
  if (!record) return Text();
  // cFileName is zero-terminated within its MAX_PATH characters; bounded anyway.
  const char* name = record->found.cFileName;
  int length = 0;
  while (length < MAX_PATH && name[length]) length++;
  return Text(name, length);
}

void CloseDirectoryListing(intptr_t listing) {
  ListingRecord* record = FindRecord(gListings, listing);
  if (!record) return;
  FindClose(record->handle);
  FreeRecord(gListings, listing);
}

void CloseAllListings() {
  CloseEveryRecord(gListings, CloseDirectoryListing);
}
