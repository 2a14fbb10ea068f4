// Finding an archive inside a file, and checking its whole central directory
// before a single entry is extracted. An archive from a stranger is trusted
// only once every central record parses, the records fill the directory
// exactly, their number is the one the end record gives, every local header
// lies inside the archive before the directory, and no two entries share
// bytes. Anything else is a damaged archive, and nothing is written.
//
// The file is read through the C library's streams; offsets are those of the
// archive, counted from its first byte (the bytes in front of it, a stub
// image, are archiveStart).
#ifndef VEZOVUD_ARCHIVE_CENTRAL_DIRECTORY_H
#define VEZOVUD_ARCHIVE_CENTRAL_DIRECTORY_H

#include <stdint.h>

#include "runtime/text.h"

// Results of ReadCentralDirectory. kCatalogueNoArchive: no end record in
// reach (not an archive, or a file cut short); the others name the damage.
const int kCatalogueOk = 0;
const int kCatalogueNoArchive = -301;
const int kCatalogueBadEndRecord = -302;    // disk numbers, counts or bounds
const int kCatalogueBadRecord = -303;       // a central record does not parse
const int kCatalogueCountMismatch = -304;   // records and end record disagree
const int kCatalogueBadLocalHeader = -305;  // outside the archive, or no header there
const int kCatalogueOverlap = -306;         // two entries share bytes
const int kCatalogueNoMemory = -307;
const int kCatalogueUnreadable = -308;  // the file cannot be opened or read

// How far back from the end of the file the end record is looked for. The
// stub keeps the classic window: the record starts within the last 65,535
// bytes. Other readers also take a plain archive with the longest comment
// (65,535 bytes) behind its 22-byte record, and a trailer behind that.
const int32_t kStubSearchBytes = 65535;
const int32_t kWideSearchBytes = 65535 + 22 + 4;

// An entry as its central record gives it, with the place of its data.
struct CatalogueEntry {
  uint64_t recordOffset;  // its central record
  uint64_t localOffset;   // its local header
  uint64_t dataOffset;    // its data, behind the local header's name and extra field
  uint64_t compressedSize;
  uint64_t size;
  uint32_t crc;
  uint32_t dosDateTime;  // date in the high half, time in the low half
  uint32_t externalAttributes;
  uint16_t versionMadeBy;
  uint16_t flags;
  uint16_t method;
  uint16_t nameBytes;       // in the central record
  uint16_t extraBytes;      // the central record's extra field
  uint16_t localNameBytes;  // in the local header
};

struct CentralDirectory {
  int64_t archiveStart;  // bytes in front of the archive in its file
  int64_t endRecordEnd;  // file offset just past the 22-byte end record
  uint32_t commentBytes;
  int64_t count;
  CatalogueEntry* entries;  // count entries in central-directory order
};

// The little-endian values that ZIP records hold, read from p.
inline uint16_t LittleEndian16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t LittleEndian32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t LittleEndian64(const unsigned char* p) {
  return static_cast<uint64_t>(LittleEndian32(p)) | static_cast<uint64_t>(LittleEndian32(p + 4))
                                                        << 32;
}

// Locates the archive in the file at path (its end record within the last
// searchBytes bytes, or a trailer's length before that) and checks its
// central directory as described above. kCatalogueOk and a filled directory,
// which FreeCentralDirectory releases; otherwise a result above and an empty
// directory.
int ReadCentralDirectory(const Text& path, int32_t searchBytes, CentralDirectory* directory);

void FreeCentralDirectory(CentralDirectory* directory);

#endif
