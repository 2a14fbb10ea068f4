// A small ZIP reader for the tests: parses an archive's end record and
// central directory field by field and checks that every local header is
// where the directory says. Every read is bounds-checked; a fault is text.
#ifndef VEZOVUD_TESTS_SUPPORT_ZIP_PARSER_H
#define VEZOVUD_TESTS_SUPPORT_ZIP_PARSER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace zip_parser {

typedef std::vector<unsigned char> Bytes;

struct CentralHeader {
  uint32_t signature = 0, crc = 0, compressedSize = 0, uncompressedSize = 0;
  uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
  uint16_t nameLength = 0, extraLength = 0, commentLength = 0, diskStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0, localHeaderOffset = 0;
  std::string name;
};

struct EndRecord {
  uint32_t offset = 0;  // position of the record in the parsed bytes
  uint32_t signature = 0, centralSize = 0, centralOffset = 0;
  uint16_t diskNumber = 0, centralDisk = 0, entriesOnDisk = 0, entriesTotal = 0, commentLength = 0;
};

struct Archive {
  std::string error;  // empty when the parse succeeded
  EndRecord end;
  std::vector<CentralHeader> central;
  uint32_t displacement = 0;  // bytes in front of the archive (a stub image)
};

inline uint16_t Read16(const Bytes& b, size_t at) { return (uint16_t)(b[at] | (b[at + 1] << 8)); }
inline uint32_t Read32(const Bytes& b, size_t at) {
  return Read16(b, at) | ((uint32_t)Read16(b, at + 2) << 16);
}

// Reads little-endian fields one after the other.
struct Cursor {
  const Bytes& b;
  size_t at;
  uint16_t U16() {
    at += 2;
    return Read16(b, at - 2);
  }
  uint32_t U32() {
    at += 4;
    return Read32(b, at - 4);
  }
};

// Parses the archive in bytes[0, length). The end record must sit at
// length - 22 (the writers under test put no comment).
inline Archive Parse(const Bytes& bytes, size_t length) {
  Archive a;
  auto fail = [&a](const std::string& why) {
    a.error = why;
    return a;
  };
  if (length > bytes.size()) length = bytes.size();
  if (length < 22) return fail("shorter than an end record");
  size_t at = length - 22;
  Cursor c{bytes, at};
  EndRecord& e = a.end;
  e.offset = (uint32_t)at;
  e.signature = c.U32();
  e.diskNumber = c.U16();
  e.centralDisk = c.U16();
  e.entriesOnDisk = c.U16();
  e.entriesTotal = c.U16();
  e.centralSize = c.U32();
  e.centralOffset = c.U32();
  e.commentLength = c.U16();
  if (e.signature != 0x06054b50) return fail("no end record signature 22 bytes before the end");
  // The central directory ends where the end record starts.
  if ((uint64_t)e.centralSize + e.centralOffset > at) return fail("central directory too long");
  a.displacement = (uint32_t)(at - e.centralSize - e.centralOffset);
  c.at = a.displacement + e.centralOffset;
  for (int i = 0; i < e.entriesTotal; ++i) {
    if (c.at + 46 > at) return fail("central header " + std::to_string(i) + " out of bounds");
    CentralHeader h;
    h.signature = c.U32();
    h.versionMadeBy = c.U16();
    h.versionNeeded = c.U16();
    h.flags = c.U16();
    h.method = c.U16();
    h.time = c.U16();
    h.date = c.U16();
    h.crc = c.U32();
    h.compressedSize = c.U32();
    h.uncompressedSize = c.U32();
    h.nameLength = c.U16();
    h.extraLength = c.U16();
    h.commentLength = c.U16();
    h.diskStart = c.U16();
    h.internalAttributes = c.U16();
    h.externalAttributes = c.U32();
    h.localHeaderOffset = c.U32();
    size_t next = c.at + h.nameLength + h.extraLength + h.commentLength;
    if (next > at) return fail("name of central header " + std::to_string(i) + " out of bounds");
    h.name.assign((const char*)&bytes[c.at], h.nameLength);
    c.at = next;
    a.central.push_back(h);
  }
  if (c.at != at) return fail("central directory size does not match its headers");
  for (const CentralHeader& h : a.central) {
    size_t local = a.displacement + h.localHeaderOffset;
    // A local header and its name lie before the central directory.
    if (local + 30 + h.nameLength > a.displacement + e.centralOffset ||
        Read32(bytes, local) != 0x04034b50) {
      return fail("no local header for " + h.name);
    }
  }
  return a;
}

inline Archive Parse(const Bytes& bytes) { return Parse(bytes, bytes.size()); }

}  // namespace zip_parser

#endif
