// The central-directory check. It reads the file's tail for the end record,
// the Zip64 end record where one is present, the whole central directory in
// one block, and then every local header in file order; each check has a
// line saying what it guards against.
#include "archive/central_directory.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "archive/output_layout.h"
#include "runtime/file.h"
#include "runtime/memory.h"

namespace {

const uint32_t kCentralRecordSignature = 0x02014b50;
const uint32_t kLocalHeaderSignature = 0x04034b50;
const uint32_t kZip64EndSignature = 0x06064b50;
const uint32_t kZip64LocatorSignature = 0x07064b50;
const int kCentralRecordBytes = 46;
const int kLocalHeaderBytes = 30;
const int kZip64EndBytes = 56;
const int kZip64LocatorBytes = 20;
const uint16_t kZip64ExtraId = 0x0001;
const uint32_t kCountOverflow = 0xFFFF;
const uint32_t kSizeOverflow = 0xFFFFFFFF;

// Reads length bytes at offset of a plain file; 1 when all of them came.
// Every read here is under 2 GiB: a record, the tail, or a directory below
// the 2 GiB that is ever given memory.
int ReadAt(intptr_t file, int64_t offset, void* buffer, int64_t length) {
  if (length < 0 || length > INT32_MAX || !SeekPlainFile(file, offset)) return 0;
  return ReadPlainFile(file, buffer, static_cast<int32_t>(length)) == length;
}

// The file offset of the end record, kCatalogueNoArchive when none is in
// reach, or -1 for a file that cannot be read.
int64_t FindEndRecord(intptr_t file, int64_t fileBytes, int32_t searchBytes) {
  int64_t tailBytes = fileBytes < searchBytes ? fileBytes : searchBytes;
  unsigned char* tail = static_cast<unsigned char*>(AllocateBlock(tailBytes + 1));
  if (tail == nullptr) return -1;
  int64_t tailStart = fileBytes - tailBytes;
  int64_t found = kCatalogueNoArchive;
  if (!ReadAt(file, tailStart, tail, tailBytes)) {
    found = -1;
  } else {
    for (int64_t i = tailBytes - 4; i >= 0; --i) {
      if (LittleEndian32(tail + i) != kEndRecordSignature) continue;
      int64_t behind = tailBytes - i;
      // A trailer whose four bytes spell the signature (a payload of
      // 101,010,256 bytes) is no record: the real one lies before it.
      if (behind == kTrailerBytes) continue;
      // The last signature without room for a whole record behind it: the
      // file was cut short.
      if (behind < kEndRecordBytes) break;
      found = tailStart + i;
      break;
    }
  }
  FreeBlock(tail);
  return found;
}

// Fills the sizes and the local header offset that a record marks as kept in
// its Zip64 extra field. 0 when the field is missing or too short for them.
int ReadZip64Extra(const unsigned char* extra, int extraBytes, CatalogueEntry* entry,
                   uint32_t size32, uint32_t compressed32, uint32_t offset32) {
  for (int at = 0; at + 4 <= extraBytes;) {
    int id = LittleEndian16(extra + at);
    int length = LittleEndian16(extra + at + 2);
    if (at + 4 + length > extraBytes) break;
    if (id == kZip64ExtraId) {
      const unsigned char* value = extra + at + 4;
      int left = length;
      if (size32 == kSizeOverflow) {
        if (left < 8) return 0;
        entry->size = LittleEndian64(value);
        value += 8;
        left -= 8;
      }
      if (compressed32 == kSizeOverflow) {
        if (left < 8) return 0;
        entry->compressedSize = LittleEndian64(value);
        value += 8;
        left -= 8;
      }
      if (offset32 == kSizeOverflow) {
        if (left < 8) return 0;
        entry->localOffset = LittleEndian64(value);
      }
      return 1;
    }
    at += 4 + length;
  }
  return 0;
}

// Parses the central directory in block (bytes long) into entries, which has
// room for capacity records. The number of records, or a negative result.
int64_t ParseRecords(const unsigned char* block, int64_t bytes, int64_t cdOffset,
                     CatalogueEntry* entries, int64_t capacity) {
  int64_t count = 0;
  int64_t at = 0;
  while (at < bytes) {
    // Every record is whole and inside the directory.
    if (bytes - at < kCentralRecordBytes) return kCatalogueBadRecord;
    const unsigned char* r = block + at;
    if (LittleEndian32(r) != kCentralRecordSignature) return kCatalogueBadRecord;
    int nameBytes = LittleEndian16(r + 28);
    int extraBytes = LittleEndian16(r + 30);
    int commentBytes = LittleEndian16(r + 32);
    int64_t recordBytes = kCentralRecordBytes + nameBytes + extraBytes + commentBytes;
    if (recordBytes > bytes - at) return kCatalogueBadRecord;
    if (count == capacity) return kCatalogueCountMismatch;
    CatalogueEntry* e = &entries[count];
    e->recordOffset = static_cast<uint64_t>(cdOffset + at);
    e->versionMadeBy = LittleEndian16(r + 4);
    e->flags = LittleEndian16(r + 8);
    e->method = LittleEndian16(r + 10);
    e->dosDateTime = static_cast<uint32_t>(LittleEndian16(r + 14)) << 16 | LittleEndian16(r + 12);
    e->crc = LittleEndian32(r + 16);
    uint32_t compressed32 = LittleEndian32(r + 20);
    uint32_t size32 = LittleEndian32(r + 24);
    uint32_t offset32 = LittleEndian32(r + 42);
    e->compressedSize = compressed32;
    e->size = size32;
    e->localOffset = offset32;
    e->externalAttributes = LittleEndian32(r + 38);
    e->nameBytes = static_cast<uint16_t>(nameBytes);
    e->extraBytes = static_cast<uint16_t>(extraBytes);
    if (size32 == kSizeOverflow || compressed32 == kSizeOverflow || offset32 == kSizeOverflow) {
      // Values too large for 32 bits live in the Zip64 extra field; without
      // it the 32-bit values stand as they are.
      ReadZip64Extra(r + kCentralRecordBytes + nameBytes, extraBytes, e, size32, compressed32,
                     offset32);
    }
    ++count;
    at += recordBytes;
  }
  return count;
}

int CompareByLocalOffset(const void* a, const void* b) {
  const CatalogueEntry* x = *static_cast<CatalogueEntry* const*>(a);
  const CatalogueEntry* y = *static_cast<CatalogueEntry* const*>(b);
  if (x->localOffset != y->localOffset) return x->localOffset < y->localOffset ? -1 : 1;
  return 0;
}

// Reads every local header, in file order, and checks that each entry's
// header and data lie before the central directory and apart from the next
// entry's: overlapping entries let a small archive inflate one stretch of
// bytes many times over.
int CheckLocalHeaders(intptr_t file, int64_t archiveStart, uint64_t cdOffset,
                      CatalogueEntry* entries, int64_t count) {
  if (count == 0) return kCatalogueOk;
  CatalogueEntry** order =
      static_cast<CatalogueEntry**>(AllocateBlock(count * static_cast<int64_t>(sizeof(void*))));
  if (order == nullptr) return kCatalogueNoMemory;
  for (int64_t i = 0; i < count; ++i) order[i] = &entries[i];
  qsort(order, static_cast<size_t>(count), sizeof(CatalogueEntry*), CompareByLocalOffset);
  int result = kCatalogueOk;
  uint64_t previousEnd = 0;
  for (int64_t i = 0; i < count && result == kCatalogueOk; ++i) {
    CatalogueEntry* e = order[i];
    unsigned char header[kLocalHeaderBytes];
    if (e->localOffset > cdOffset || cdOffset - e->localOffset < kLocalHeaderBytes ||
        e->localOffset < previousEnd) {
      result = e->localOffset < previousEnd ? kCatalogueOverlap : kCatalogueBadLocalHeader;
      break;
    }
    if (!ReadAt(file, archiveStart + static_cast<int64_t>(e->localOffset), header,
                kLocalHeaderBytes) ||
        LittleEndian32(header) != kLocalHeaderSignature) {
      result = kCatalogueBadLocalHeader;
      break;
    }
    e->localNameBytes = LittleEndian16(header + 26);
    e->dataOffset = e->localOffset + kLocalHeaderBytes + LittleEndian16(header + 26) +
                    LittleEndian16(header + 28);
    // The data must end before the central directory starts.
    if (e->dataOffset > cdOffset || e->compressedSize > cdOffset - e->dataOffset) {
      result = kCatalogueBadLocalHeader;
      break;
    }
    previousEnd = e->dataOffset + e->compressedSize;
  }
  FreeBlock(order);
  return result;
}

// The facts of the end records: where the directory lies and how many
// records it must hold.
struct EndFacts {
  int64_t archiveStart;
  uint64_t cdOffset;
  uint64_t cdSize;
  uint64_t count;
  int countMayOverflow;  // a classic count of 0xFFFF with no Zip64 record
  uint32_t commentBytes;
};

int ReadEndRecords(intptr_t file, int64_t endOffset, EndFacts* facts) {
  unsigned char end[kEndRecordBytes];
  if (!ReadAt(file, endOffset, end, kEndRecordBytes)) return kCatalogueUnreadable;
  uint32_t disk = LittleEndian16(end + 4);
  uint32_t cdDisk = LittleEndian16(end + 6);
  uint64_t onDisk = LittleEndian16(end + 8);
  facts->count = LittleEndian16(end + 10);
  facts->cdSize = LittleEndian32(end + 12);
  facts->cdOffset = LittleEndian32(end + 16);
  facts->commentBytes = LittleEndian16(end + 20);
  facts->countMayOverflow = facts->count == kCountOverflow;
  int64_t recordsEnd = endOffset;  // where the central directory must end by
  int zip64 = 0;

  // A Zip64 locator right in front of the end record leads to the Zip64 end
  // record, which holds the true counts, size and offset.
  unsigned char locator[kZip64LocatorBytes];
  if (endOffset >= kZip64LocatorBytes + kZip64EndBytes &&
      ReadAt(file, endOffset - kZip64LocatorBytes, locator, kZip64LocatorBytes) &&
      LittleEndian32(locator) == kZip64LocatorSignature) {
    uint64_t storedOffset = LittleEndian64(locator + 8);
    unsigned char record[kZip64EndBytes];
    // Usually the record stands right before the locator; its stored offset
    // counts from the archive's start, which a stub in front moves.
    int64_t at = endOffset - kZip64LocatorBytes - kZip64EndBytes;
    if (!ReadAt(file, at, record, kZip64EndBytes) || LittleEndian32(record) != kZip64EndSignature) {
      at = static_cast<int64_t>(storedOffset);
      if (storedOffset > static_cast<uint64_t>(endOffset) ||
          !ReadAt(file, at, record, kZip64EndBytes) ||
          LittleEndian32(record) != kZip64EndSignature) {
        return kCatalogueBadEndRecord;
      }
    }
    disk = LittleEndian32(record + 16);
    cdDisk = LittleEndian32(record + 20);
    onDisk = LittleEndian64(record + 24);
    facts->count = LittleEndian64(record + 32);
    facts->cdSize = LittleEndian64(record + 40);
    facts->cdOffset = LittleEndian64(record + 48);
    facts->countMayOverflow = 0;
    // The archive starts where the record's stored offset says it lies.
    if (storedOffset > static_cast<uint64_t>(at)) return kCatalogueBadEndRecord;
    facts->archiveStart = at - static_cast<int64_t>(storedOffset);
    recordsEnd = static_cast<int64_t>(storedOffset);
    zip64 = 1;
  }
  // A single-disk archive, with both counts equal.
  if (disk != 0 || cdDisk != 0 || onDisk != facts->count) return kCatalogueBadEndRecord;
  // The directory ends before the end records (in archive offsets for a
  // Zip64 record; without one, whatever lies in front is the stub).
  if (facts->cdSize > static_cast<uint64_t>(recordsEnd) ||
      facts->cdOffset > static_cast<uint64_t>(recordsEnd) - facts->cdSize) {
    return kCatalogueBadEndRecord;
  }
  if (!zip64) {
    facts->archiveStart = endOffset - static_cast<int64_t>(facts->cdOffset + facts->cdSize);
  }
  return kCatalogueOk;
}

}  // namespace

int ReadCentralDirectory(const Text& path, int32_t searchBytes, CentralDirectory* directory) {
  memset(directory, 0, sizeof(*directory));
  intptr_t file = OpenPlainFileForReading(path);
  if (file == 0) return kCatalogueUnreadable;
  int result = kCatalogueOk;
  int64_t fileBytes = PlainFileLength(file);
  int64_t endOffset = fileBytes < 0 ? -1 : FindEndRecord(file, fileBytes, searchBytes);
  EndFacts facts;
  memset(&facts, 0, sizeof(facts));
  if (endOffset == -1) {
    result = kCatalogueUnreadable;
  } else if (endOffset < 0) {
    result = kCatalogueNoArchive;
  } else {
    result = ReadEndRecords(file, endOffset, &facts);
  }
  unsigned char* block = nullptr;
  CatalogueEntry* entries = nullptr;
  int64_t count = 0;
  // A directory is read into memory whole: one of 2 GiB or more is never
  // given memory (and its size then fits the 32-bit division below).
  if (result == kCatalogueOk && facts.cdSize >= 0x80000000u) result = kCatalogueNoMemory;
  if (result == kCatalogueOk) {
    // Each record takes 46 bytes at least, so the directory's size bounds
    // the count; the entry table is never larger than the file allows.
    int64_t capacity = static_cast<uint32_t>(facts.cdSize) / kCentralRecordBytes;
    // More records than the end record counts is a mismatch found on the way.
    if (!facts.countMayOverflow && facts.count < static_cast<uint64_t>(capacity)) {
      capacity = static_cast<int64_t>(facts.count);
    }
    block = static_cast<unsigned char*>(AllocateBlock(static_cast<int64_t>(facts.cdSize) + 1));
    entries = static_cast<CatalogueEntry*>(
        AllocateBlock((capacity + 1) * static_cast<int64_t>(sizeof(CatalogueEntry))));
    if (block == nullptr || entries == nullptr) {
      result = kCatalogueNoMemory;
    } else if (!ReadAt(file, facts.archiveStart + static_cast<int64_t>(facts.cdOffset), block,
                       static_cast<int64_t>(facts.cdSize))) {
      result = kCatalogueUnreadable;
    } else {
      count = ParseRecords(block, static_cast<int64_t>(facts.cdSize),
                           static_cast<int64_t>(facts.cdOffset), entries, capacity);
      if (count < 0) {
        result = static_cast<int>(count);
      } else if (static_cast<uint64_t>(count) != facts.count &&
                 !(facts.countMayOverflow && count >= kCountOverflow)) {
        // The end record's count must be the real one; the only exception is
        // the classic field stuck at 0xFFFF with more records behind it.
        result = kCatalogueCountMismatch;
      }
    }
  }
  FreeBlock(block);
  if (result == kCatalogueOk) {
    result = CheckLocalHeaders(file, facts.archiveStart, facts.cdOffset, entries, count);
  }
  ClosePlainFile(file);
  if (result != kCatalogueOk) {
    FreeBlock(entries);
    return result;
  }
  directory->archiveStart = facts.archiveStart;
  directory->endRecordEnd = endOffset + kEndRecordBytes;
  directory->commentBytes = facts.commentBytes;
  directory->count = count;
  directory->entries = entries;
  return kCatalogueOk;
}

void FreeCentralDirectory(CentralDirectory* directory) {
  FreeBlock(directory->entries);
  memset(directory, 0, sizeof(*directory));
}
