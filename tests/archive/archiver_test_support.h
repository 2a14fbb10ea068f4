// Helpers for the Folder archiver tests: one archiver run with its callbacks
// recorded and its bytes parsed, raw inflate, and file-time setting.
#ifndef VEZOVUD_TESTS_ARCHIVE_ARCHIVER_TEST_SUPPORT_H
#define VEZOVUD_TESTS_ARCHIVE_ARCHIVER_TEST_SUPPORT_H

#include <stdint.h>
#include <time.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/folder_archiver.h"
#include "runtime/test_support.h"
#include "support/zip_parser.h"

#ifndef _WIN32
#include <sys/time.h>
#endif

namespace archiver_test {

typedef std::vector<unsigned char> Bytes;
typedef std::vector<std::pair<std::string, float>> Calls;

inline Calls*& RecordedCalls() {
  static Calls* calls = nullptr;
  return calls;
}

inline int32_t RecordCall(const Text& name, float percent) {
  if (RecordedCalls()) RecordedCalls()->push_back({name.c_str(), percent});
  return 0;
}

struct ArchiverRun {
  int32_t added = 0;
  Calls calls;
  Bytes bytes;
  zip_parser::Archive zip;
  std::vector<std::pair<std::string, int>> problems;
};

// Archives folderAndPattern into archivePath and parses what was written.
inline ArchiverRun RunArchiver(const std::string& archivePath, const std::string& folderAndPattern,
                       int32_t nameMode = kNameRelative, int32_t recurse = 1) {
  ArchiverRun run;
  RecordedCalls() = &run.calls;
  SetArchiverProgressCallback(RecordCall);
  run.added = AddFolderToArchive(archivePath.c_str(), folderAndPattern.c_str(), nameMode,
                                 recurse, 0);
  SetArchiverProgressCallback(nullptr);
  RecordedCalls() = nullptr;
  for (int32_t i = 0; i < ArchiverProblemCount(); ++i) {
    run.problems.push_back({ArchiverProblemPath(i).c_str(), ArchiverProblemKind(i)});
  }
  run.bytes = test_support::ReadWholeFile(archivePath);
  run.zip = zip_parser::Parse(run.bytes);
  return run;
}

// Raw inflate of a stored entry's data; ok is cleared on any stream fault.
inline Bytes Inflate(const Bytes& all, const zip_parser::LocalHeader& h, bool* ok) {
  Bytes out;
  *ok = false;
  if (static_cast<size_t>(h.dataOffset) + h.compressedSize > all.size()) return out;
  z_stream s = {};
  if (inflateInit2(&s, -MAX_WBITS) != Z_OK) return out;
  s.next_in = const_cast<Bytes::value_type*>(all.data() + h.dataOffset);
  s.avail_in = h.compressedSize;
  unsigned char chunk[65536];
  int status = Z_OK;
  while (status == Z_OK) {
    s.next_out = chunk;
    s.avail_out = sizeof(chunk);
    status = inflate(&s, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof(chunk) - s.avail_out));
  }
  *ok = status == Z_STREAM_END && s.avail_in == 0;
  inflateEnd(&s);
  return out;
}

inline uint32_t Crc(const Bytes& b) {
  return static_cast<uint32_t>(crc32(0L, b.data(), static_cast<uInt>(b.size())));
}

inline Bytes TextBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

#ifndef _WIN32
// Sets a file's last-write time from local wall-clock fields.
inline bool SetLocalTime(const std::string& path, int year, int month, int day, int hour,
                         int minute, int second) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  time_t when = mktime(&t);
  struct timeval times[2] = {{when, 0}, {when, 0}};
  return utimes(path.c_str(), times) == 0;
}
#endif

}  // namespace archiver_test

#endif
