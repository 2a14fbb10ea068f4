// A small ZIP reader for the tests: it parses an archive's bytes into its
// local headers, central directory headers and end record, field by field,
// so tests can check every value the archive writer produced. It trusts
// nothing: every read is bounds-checked and a fault is reported as text.
#ifndef VEZOVUD_TESTS_SUPPORT_ZIP_PARSER_H
#define VEZOVUD_TESTS_SUPPORT_ZIP_PARSER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace zip_parser {

struct LocalHeader {
  uint32_t offset = 0;
  uint32_t signature = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  std::string name;
  uint32_t dataOffset = 0;  // first byte of the compressed data
};

struct CentralHeader {
  uint32_t signature = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t commentLength = 0;
  uint16_t diskStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;
  std::string name;
};

struct EndRecord {
  uint32_t offset = 0;  // position of the record in the parsed bytes
  uint32_t signature = 0;
  uint16_t diskNumber = 0;
  uint16_t centralDisk = 0;
  uint16_t entriesOnDisk = 0;
  uint16_t entriesTotal = 0;
  uint32_t centralSize = 0;
  uint32_t centralOffset = 0;
  uint16_t commentLength = 0;
};

struct Archive {
  std::string error;  // empty when the parse succeeded
  EndRecord end;
  std::vector<CentralHeader> central;
  std::vector<LocalHeader> local;  // one per central header, in the same order
  uint32_t displacement = 0;       // bytes in front of the archive (a stub image)
};

inline uint16_t Read16(const std::vector<unsigned char>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

inline uint32_t Read32(const std::vector<unsigned char>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Parses the archive held in bytes[0, length). The end record must sit at
// length - 22 (the writer puts no comment).
inline Archive Parse(const std::vector<unsigned char>& bytes, size_t length) {
  Archive a;
  if (length > bytes.size()) length = bytes.size();
  if (length < 22) {
    a.error = "shorter than an end record";
    return a;
  }
  size_t at = length - 22;
  EndRecord& e = a.end;
  e.offset = static_cast<uint32_t>(at);
  e.signature = Read32(bytes, at);
  e.diskNumber = Read16(bytes, at + 4);
  e.centralDisk = Read16(bytes, at + 6);
  e.entriesOnDisk = Read16(bytes, at + 8);
  e.entriesTotal = Read16(bytes, at + 10);
  e.centralSize = Read32(bytes, at + 12);
  e.centralOffset = Read32(bytes, at + 16);
  e.commentLength = Read16(bytes, at + 20);
  if (e.signature != 0x06054b50) {
    a.error = "no end record signature 22 bytes before the end";
    return a;
  }
  // The central directory ends where the end record starts.
  if (static_cast<uint64_t>(e.centralSize) + e.centralOffset > at) {
    a.error = "central directory reaches beyond the end record";
    return a;
  }
  a.displacement = static_cast<uint32_t>(at - e.centralSize - e.centralOffset);
  size_t c = a.displacement + e.centralOffset;
  for (int i = 0; i < e.entriesTotal; ++i) {
    if (c + 46 > at) {
      a.error = "central header " + std::to_string(i) + " runs past the directory";
      return a;
    }
    CentralHeader h;
    h.signature = Read32(bytes, c);
    h.versionMadeBy = Read16(bytes, c + 4);
    h.versionNeeded = Read16(bytes, c + 6);
    h.flags = Read16(bytes, c + 8);
    h.method = Read16(bytes, c + 10);
    h.time = Read16(bytes, c + 12);
    h.date = Read16(bytes, c + 14);
    h.crc = Read32(bytes, c + 16);
    h.compressedSize = Read32(bytes, c + 20);
    h.uncompressedSize = Read32(bytes, c + 24);
    h.nameLength = Read16(bytes, c + 28);
    h.extraLength = Read16(bytes, c + 30);
    h.commentLength = Read16(bytes, c + 32);
    h.diskStart = Read16(bytes, c + 34);
    h.internalAttributes = Read16(bytes, c + 36);
    h.externalAttributes = Read32(bytes, c + 38);
    h.localHeaderOffset = Read32(bytes, c + 42);
    size_t next = c + 46 + h.nameLength + h.extraLength + h.commentLength;
    if (next > at) {
      a.error = "central header " + std::to_string(i) + " name runs past the directory";
      return a;
    }
    h.name.assign(reinterpret_cast<const char*>(&bytes[c + 46]), h.nameLength);
    a.central.push_back(h);
    c = next;
  }
  if (c != at) {
    a.error = "central directory size does not match its headers";
    return a;
  }
  for (const CentralHeader& h : a.central) {
    size_t l = a.displacement + h.localHeaderOffset;
    if (l + 30 > at) {
      a.error = "local header of " + h.name + " out of bounds";
      return a;
    }
    LocalHeader lh;
    lh.offset = h.localHeaderOffset;
    lh.signature = Read32(bytes, l);
    lh.versionNeeded = Read16(bytes, l + 4);
    lh.flags = Read16(bytes, l + 6);
    lh.method = Read16(bytes, l + 8);
    lh.time = Read16(bytes, l + 10);
    lh.date = Read16(bytes, l + 12);
    lh.crc = Read32(bytes, l + 14);
    lh.compressedSize = Read32(bytes, l + 18);
    lh.uncompressedSize = Read32(bytes, l + 22);
    lh.nameLength = Read16(bytes, l + 26);
    lh.extraLength = Read16(bytes, l + 28);
    if (l + 30 + lh.nameLength + lh.extraLength > at) {
      a.error = "local name of " + h.name + " out of bounds";
      return a;
    }
    lh.name.assign(reinterpret_cast<const char*>(&bytes[l + 30]), lh.nameLength);
    lh.dataOffset = static_cast<uint32_t>(l + 30 + lh.nameLength + lh.extraLength);
    if (static_cast<uint64_t>(lh.dataOffset) + lh.compressedSize > a.displacement + e.centralOffset) {
      a.error = "data of " + h.name + " runs into the central directory";
      return a;
    }
    a.local.push_back(lh);
  }
  return a;
}

inline Archive Parse(const std::vector<unsigned char>& bytes) { return Parse(bytes, bytes.size()); }

}  // namespace zip_parser

#endif
