// A small ZIP writer laying archives out byte for byte as the folder archiver does, with knobs
// to damage them; output files (stub-sized prefix + archive + trailer); temp folders.
#ifndef VEZOVUD_TESTS_SUPPORT_ZIP_WRITER_H
#define VEZOVUD_TESTS_SUPPORT_ZIP_WRITER_H

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/test_support.h"

namespace testzip {

const int kStubImageBytes = 59392;

inline uint16_t DosDate(int year, int month, int day) {
  return (uint16_t)(((year - 1980) << 9) | (month << 5) | day);
}
inline uint16_t DosTime(int hour, int minute, int second) {
  return (uint16_t)((hour << 11) | (minute << 5) | (second / 2));
}

struct Entry {
  std::string name;
  std::string data;
  int method = 8;  // 8 deflated (unless raw), anything else stored
  uint16_t flag = 0x0002;
  uint16_t time = 0x7475;  // 14:35:42 (seconds stored as 21)
  uint16_t date = DosDate(2006, 5, 17);
  int64_t crc = -1;   // the CRC to store; -1: the real one
  int64_t size = -1;  // the size to declare; -1: the real one
  bool raw = false;   // data goes in as given, whatever the method
  bool text = false;  // internal attribute 1: zlib took the data for text
  // What other writers do: Zip64 sizes, "version made by" and external attributes, another
  // local name, a Unicode Path extra field (0x7075) for the central name.
  bool zip64 = false;
  uint16_t madeBy = 0;
  uint32_t attributes = 0;
  std::string localName = {};  // empty: the same name
  std::string unicodePath = {};
  uint32_t unicodeCrc = 0;  // 0: the CRC of the central name
};

// A folder entry as the archiver writes it: size 0, the 1970 date 0xC421.
inline Entry FolderEntry(const std::string& name) { return Entry{name, "", 8, 2, 0, 0xC421}; }
// Entries with one thing changed: the stored CRC, the declared size, method 0.
inline Entry WithCrc(Entry e, uint32_t crc) {
  e.crc = crc;
  return e;
}
inline Entry WithSize(Entry e, uint32_t size) {
  e.size = size;
  return e;
}
inline Entry Stored(Entry e) {
  e.method = 0;
  e.flag = 0;
  return e;
}

// Raw deflate at level 9: the stream inside zlib's 2-byte header and 4-byte check.
inline std::string Deflate(const std::string& data) {
  uLongf bytes = compressBound((uLong)data.size());
  std::string out(bytes, '\0');
  compress2((Bytef*)&out[0], &bytes, (const Bytef*)data.data(), (uLong)data.size(), 9);
  return out.substr(2, bytes - 6);
}

// Appends little-endian values of the given byte widths.
inline void Put(std::string& s, std::initializer_list<std::pair<int, uint32_t>> fields) {
  for (const auto& f : fields)
    for (int i = 0; i < f.first; ++i) s += (char)((f.second >> (8 * i)) & 0xff);
}

inline std::string BuildArchive(const std::vector<Entry>& entries) {
  std::string body, central;
  for (const Entry& e : entries) {
    std::string packed = e.method == 8 && !e.raw ? Deflate(e.data) : e.data;
    uint32_t crc = e.crc >= 0 ? e.crc : crc32(0, (const Bytef*)e.data.data(), (uInt)e.data.size());
    uint32_t size = e.size >= 0 ? e.size : e.data.size(), compressed = packed.size();
    std::string zip64;  // both sizes, uncompressed first
    if (e.zip64) Put(zip64, {{2, 1}, {2, 16}, {4, size}, {4, 0}, {4, compressed}, {4, 0}});
    std::string unicode;
    if (!e.unicodePath.empty()) {
      uint32_t nameCrc =
          e.unicodeCrc ? e.unicodeCrc : crc32(0, (const Bytef*)e.name.data(), (uInt)e.name.size());
      Put(unicode, {{2, 0x7075}, {2, (uint32_t)(5 + e.unicodePath.size())}, {1, 1}, {4, nameCrc}});
      unicode += e.unicodePath;
    }
    std::string localName = e.localName.empty() ? e.name : e.localName;
    auto shared = [&](const std::string& name, size_t extraBytes) {
      std::string fields;  // the fields both headers carry, from "version needed" on
      Put(fields, {{2, e.zip64 ? 45u : 20u}, {2, e.flag}, {2, (uint32_t)e.method}, {2, e.time}});
      Put(fields, {{2, e.date}, {4, crc}, {4, e.zip64 ? 0xFFFFFFFF : compressed}});
      Put(fields, {{4, e.zip64 ? 0xFFFFFFFF : size}, {2, (uint32_t)name.size()}});
      Put(fields, {{2, (uint32_t)extraBytes}});
      return fields;
    };
    central += "PK\x01\x02";
    Put(central, {{2, e.madeBy}});
    central += shared(e.name, zip64.size() + unicode.size());
    Put(central, {{2, 0}, {2, 0}, {2, e.text}, {4, e.attributes}, {4, (uint32_t)body.size()}});
    central += e.name + zip64 + unicode;
    body += "PK\x03\x04" + shared(localName, zip64.size()) + localName + zip64 + packed;
  }
  std::string archive = body + central + "PK\x05\x06";
  uint32_t count = (uint32_t)entries.size();
  Put(archive, {{2, 0}, {2, 0}, {2, count}, {2, count}, {4, (uint32_t)central.size()}});
  Put(archive, {{4, (uint32_t)body.size()}, {2, 0}});
  return archive;
}

// A stub-like prefix: "MZ" and then filler bytes.
inline std::string StubPrefix(size_t bytes) {
  std::string prefix(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) prefix[i] = (char)(i * 7 + 3);
  if (bytes >= 2) prefix.replace(0, 2, "MZ");
  return prefix;
}

// An output file: prefix, archive, 4-byte trailer holding the archive's length.
inline std::string gOutputFile(const std::string& archive, size_t prefixBytes = kStubImageBytes) {
  std::string file = StubPrefix(prefixBytes) + archive;
  Put(file, {{4, (uint32_t)archive.size()}});
  return file;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(std::filesystem::u8path(path), std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ostringstream all;
  all << std::ifstream(std::filesystem::u8path(path), std::ios::binary).rdbuf();
  return all.str();
}

// A fresh folder below TempDirectory(), removed with all below it at the end.
struct TempFolder : test_support::TempFolder {
  std::string operator/(const std::string& name) const { return Join(name); }
};

}  // namespace testzip

#endif
