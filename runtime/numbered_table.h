// The table behind one family of numbered objects (open files, listings):
// records indexed by the caller's number, plus records for objects opened
// with kAnyNumber, whose identifiers lie above every usable number.
// Internal to the runtime; each family's back end owns its one table.
#ifndef VEZOVUD_RUNTIME_NUMBERED_TABLE_H
#define VEZOVUD_RUNTIME_NUMBERED_TABLE_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/file.h"

// Identifiers handed out for kAnyNumber: kFirstIdentifier + slot. They can
// never be taken for a number, since numbers stay below kNumberLimit.
const intptr_t kFirstIdentifier = 0x01000000;
const intptr_t kIdentifierSlots = 0x00100000;  // kAnyNumber objects open at once
const intptr_t kTableGrowthRecords = 16;       // records added beyond a new number

// Record is a plain struct whose first field, handle, is 0 while the record
// is free. Tables start zeroed (static storage) and grow on demand; the
// records are zero-filled when they come into being. Tables are not locked:
// each object is used by one thread at a time.
template <typename Record>
struct NumberedTable {
  Record* numbered;
  intptr_t numberedCount;
  Record* anonymous;
  intptr_t anonymousCount;
};

// True for a number the caller may open an object under: kAnyNumber or
// 0 .. kNumberLimit - 1. Anything else is refused before any work is done.
inline bool IsUsableNumber(intptr_t n) { return n == kAnyNumber || (n >= 0 && n < kNumberLimit); }

// Grows records to at least wanted entries, the new ones zero-filled.
template <typename Record>
bool GrowRecords(Record** records, intptr_t* count, intptr_t wanted) {
  if (wanted <= *count) return true;
  Record* grown = static_cast<Record*>(realloc(*records, wanted * sizeof(Record)));
  if (!grown) return false;
  memset(static_cast<void*>(grown + *count), 0, (wanted - *count) * sizeof(Record));
  *records = grown;
  *count = wanted;
  return true;
}

// The record slot of id, in use or not; null when id names no slot.
template <typename Record>
Record* RecordSlot(NumberedTable<Record>& table, intptr_t id) {
  if (id >= 0 && id < table.numberedCount) return &table.numbered[id];
  if (id >= kFirstIdentifier && id - kFirstIdentifier < table.anonymousCount)
    return &table.anonymous[id - kFirstIdentifier];
  return nullptr;
}

// The record in use under id (a number or an identifier), or null.
template <typename Record>
Record* FindRecord(NumberedTable<Record>& table, intptr_t id) {
  Record* record = RecordSlot(table, id);
  return (record && record->handle) ? record : nullptr;
}

// Makes room for an object under n and returns the id it will be known by:
// n itself, or for kAnyNumber the identifier of a free slot. -1 when n is
// not usable or memory is short. The slot stays free until its handle is set;
// a numbered slot may still hold the object being replaced.
template <typename Record>
intptr_t ReserveRecord(NumberedTable<Record>& table, intptr_t n) {
  if (!IsUsableNumber(n)) return -1;
  if (n != kAnyNumber) {
    if (n >= table.numberedCount &&
        !GrowRecords(&table.numbered, &table.numberedCount, n + kTableGrowthRecords))
      return -1;
    return n;
  }
  for (intptr_t slot = 0; slot < table.anonymousCount; slot++) {
    if (!table.anonymous[slot].handle) return kFirstIdentifier + slot;
  }
  intptr_t slot = table.anonymousCount;
  if (slot >= kIdentifierSlots ||
      !GrowRecords(&table.anonymous, &table.anonymousCount, slot + kTableGrowthRecords))
    return -1;
  return kFirstIdentifier + slot;
}

// Marks the record of id free again.
template <typename Record>
void FreeRecord(NumberedTable<Record>& table, intptr_t id) {
  Record* record = RecordSlot(table, id);
  if (record) memset(static_cast<void*>(record), 0, sizeof(Record));
}

// Calls close on every id in use, then gives the table's memory back.
template <typename Record>
void CloseEveryRecord(NumberedTable<Record>& table, void (*close)(intptr_t)) {
  for (intptr_t n = 0; n < table.numberedCount; n++) {
    if (table.numbered[n].handle) close(n);
  }
  for (intptr_t slot = 0; slot < table.anonymousCount; slot++) {
    if (table.anonymous[slot].handle) close(kFirstIdentifier + slot);
  }
  free(table.numbered);
  free(table.anonymous);
  memset(static_cast<void*>(&table), 0, sizeof(table));
}

#endif
