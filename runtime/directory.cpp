// The portable part of directory listings: the numbered table of listings
// and the order of calls (no entry before the first NextEntry, none after
// the last). The platform's search is behind directory_native.h.
#include "runtime/directory.h"

#include "runtime/directory_native.h"
#include "runtime/file_native.h"
#include "runtime/filesystem.h"
#include "runtime/numbered_table.h"

namespace {

// started: 0 until the first NextEntry; current: an entry is current.
struct ListingRecord {
  NativeListing handle;
  int32_t started;
  int32_t current;
};

NumberedTable<ListingRecord> gListings;

ListingRecord* CurrentRecord(intptr_t listing) {
  ListingRecord* record = FindRecord(gListings, listing);
  return (record && record->current) ? record : nullptr;
}

// Enters n's record for a search that has just started; 0 when it has not.
intptr_t EnterListing(intptr_t n, intptr_t id, NativeListing handle) {
  if (handle == 0) return 0;
  ListingRecord* record = RecordSlot(gListings, id);
  record->handle = handle;
  record->started = 0;
  record->current = 0;
  return n == kAnyNumber ? id : handle;
}

}  // namespace

intptr_t OpenDirectoryListing(intptr_t n, const Text& folder, const Text& pattern) {
  if (!IsUsableNumber(n)) return 0;
  CloseDirectoryListing(n);
  char search[kPathCapacity];
  if (!BuildSearchPath(folder, pattern, search)) return 0;
  intptr_t id = ReserveRecord(gListings, n);
  if (id < 0) return 0;
  return EnterListing(n, id, NativeOpenListing(search));
}

intptr_t OpenHeldFolderListing(intptr_t n, intptr_t folder) {
  if (!IsUsableNumber(n) || folder == 0) return 0;
  CloseDirectoryListing(n);
  intptr_t id = ReserveRecord(gListings, n);
  if (id < 0) return 0;
  return EnterListing(n, id, NativeOpenHeldListing(folder));
}

int NextEntry(intptr_t listing) {
  ListingRecord* record = FindRecord(gListings, listing);
  if (!record) return 0;
  if (!record->started) {
    // The search has made its first entry current already.
    record->started = 1;
    record->current = 1;
    return 1;
  }
  if (!record->current) return 0;
  record->current = NativeNextEntry(record->handle) ? 1 : 0;
  return record->current;
}

int EntryKind(intptr_t listing) {
  ListingRecord* record = CurrentRecord(listing);
  return record ? NativeEntryKind(record->handle) : kEntryNone;
}

Text EntryName(intptr_t listing) {
  ListingRecord* record = CurrentRecord(listing);
  return record ? NativeEntryName(record->handle) : Text();
}

int EntryOwnKind(intptr_t listing) {
  ListingRecord* record = CurrentRecord(listing);
  return record ? NativeEntryOwnKind(record->handle) : kPathNothing;
}

int EntryIdentity(intptr_t listing, PathIdentity* identity) {
  ListingRecord* record = CurrentRecord(listing);
  return record && identity != nullptr ? NativeEntryIdentity(record->handle, identity) : 0;
}

void CloseDirectoryListing(intptr_t listing) {
  ListingRecord* record = FindRecord(gListings, listing);
  if (!record) return;
  NativeCloseListing(record->handle);
  FreeRecord(gListings, listing);
}

void CloseAllListings() { CloseEveryRecord(gListings, CloseDirectoryListing); }
