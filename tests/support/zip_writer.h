// Test helpers: a small ZIP writer that lays archives out byte for byte as
// the folder archiver does ("\" separators, folder entries, the empty-named
// root entry, flag 0x0002, no extra fields, no comment), with knobs to damage
// them; output files (stub-sized prefix + archive + trailer); and temp folders.
#ifndef VEZOVUD_TESTS_SUPPORT_ZIP_WRITER_H
#define VEZOVUD_TESTS_SUPPORT_ZIP_WRITER_H

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/file.h"


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
  int method = 8;                       // 8 deflated, 0 stored
  uint16_t flag = 0x0002;
  uint16_t time = 0x7475;               // 14:35:42 (seconds stored as 21)
  uint16_t date = DosDate(2006, 5, 17);
  bool fixCrc = false;                  // store crc instead of the real CRC
  uint32_t crc = 0;
  bool fixSize = false;                 // declare size instead of the real size
  uint32_t size = 0;
};

inline std::string Deflate(const std::string& data) {
  z_stream stream = {};
  deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()) + 16, '\0');
  stream.next_in = (Bytef*)data.data();
  stream.avail_in = (uInt)data.size();
  stream.next_out = (Bytef*)&out[0];
  stream.avail_out = (uInt)out.size();
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

inline void Put16(std::string& s, uint32_t v) {
  s += (char)(v & 0xff);
  s += (char)((v >> 8) & 0xff);
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xffff);
  Put16(s, v >> 16);
}

// The archive as the folder archiver writes it.
inline std::string BuildArchive(const std::vector<Entry>& entries) {
  std::string body;
  std::string central;
  for (const Entry& e : entries) {
    std::string packed = e.method == 8 ? Deflate(e.data) : e.data;
    uint32_t crc = e.fixCrc ? e.crc
                            : (uint32_t)crc32(0, (const Bytef*)e.data.data(), (uInt)e.data.size());
    uint32_t size = e.fixSize ? e.size : (uint32_t)e.data.size();
    uint32_t offset = (uint32_t)body.size();
    body += "PK\x03\x04";
    Put16(body, 20);
    Put16(body, e.flag);
    Put16(body, e.method);
    Put16(body, e.time);
    Put16(body, e.date);
    Put32(body, crc);
    Put32(body, (uint32_t)packed.size());
    Put32(body, size);
    Put16(body, (uint32_t)e.name.size());
    Put16(body, 0);
    body += e.name;
    body += packed;
    central += "PK\x01\x02";
    Put16(central, 0);
    Put16(central, 20);
    Put16(central, e.flag);
    Put16(central, e.method);
    Put16(central, e.time);
    Put16(central, e.date);
    Put32(central, crc);
    Put32(central, (uint32_t)packed.size());
    Put32(central, size);
    Put16(central, (uint32_t)e.name.size());
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, 0);
    Put32(central, offset);
    central += e.name;
  }
  std::string archive = body + central;
  archive += "PK\x05\x06";
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, (uint32_t)entries.size());
  Put16(archive, (uint32_t)entries.size());
  Put32(archive, (uint32_t)central.size());
  Put32(archive, (uint32_t)body.size());
  Put16(archive, 0);
  return archive;
}

// A stub-like prefix: "MZ" and then filler bytes.
inline std::string StubPrefix(size_t bytes) {
  std::string prefix(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) prefix[i] = (char)(i * 7 + 3);
  if (bytes >= 2) {
    prefix[0] = 'M';
    prefix[1] = 'Z';
  }
  return prefix;
}

// An output file: prefix, archive, 4-byte trailer holding the archive's length.
inline std::string OutputFile(const std::string& archive, size_t prefixBytes = kStubImageBytes) {
  std::string file = StubPrefix(prefixBytes) + archive;
  Put32(file, (uint32_t)archive.size());
  return file;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// A fresh folder below TempDirectory(), removed with everything in it when
// the object goes. path ends in the platform's separator.
class TempFolder {
 public:
  TempFolder() {
    std::string base = TempDirectory().c_str();
    for (int i = 0;; ++i) {
      std::string candidate = base + "vezovud-test-" + std::to_string(std::rand()) + "-" +
                              std::to_string(i);
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) {
        path_ = candidate + kPathSeparator;
        return;
      }
    }
  }
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

}  // namespace testzip

#endif
