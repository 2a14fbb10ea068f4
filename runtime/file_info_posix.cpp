// POSIX back end of the file facts: stat/fstat, localtime_r and the coarse
// real-time clock, the one the kernel stamps file times with.
#include "runtime/file_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "runtime/file.h"
#include "runtime/file_native.h"

namespace {

const int64_t kNanosecondsPerSecond = 1000000000;

}  // namespace

int GetFileModificationTime(const Text& path, LocalTimeFields* fields) {
  char name[kPathCapacity];  // "\" means the native separator here
  if (fields == nullptr || path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  // O_NONBLOCK: opening a named pipe for reading would otherwise wait for a
  // writer, and the walk would hang on it.
  int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat info;
  int ok = fstat(fd, &info) == 0;
  close(fd);
  // Only a file has a time to take; opening a folder for reading fails on
  // Windows, and folders take the same road here.
  if (!ok || S_ISDIR(info.st_mode)) return 0;
  return LocalTimeOfFileTime(
      static_cast<int64_t>(info.st_mtim.tv_sec) * kNanosecondsPerSecond + info.st_mtim.tv_nsec,
      fields);
}

int64_t FileClockNow() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

int LocalTimeOfFileTime(int64_t time, LocalTimeFields* fields) {
  if (fields == nullptr) return 0;
  // Seconds rounded down, also before 1970.
  int64_t seconds = time / kNanosecondsPerSecond;
  if (time % kNanosecondsPerSecond < 0) seconds--;
  time_t when = static_cast<time_t>(seconds);
  struct tm local;
  if (localtime_r(&when, &local) == nullptr) return 0;
  fields->year = local.tm_year + 1900;
  fields->month = local.tm_mon + 1;
  fields->day = local.tm_mday;
  fields->hour = local.tm_hour;
  fields->minute = local.tm_min;
  // A leap second reads as 60; the calendar has no room for it.
  fields->second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return 1;
}

int GetPathIdentity(const Text& path, PathIdentity* identity) {
  char name[kPathCapacity];
  if (identity == nullptr || path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  struct stat info;
  if (stat(name, &info) != 0) return 0;
  identity->volume = static_cast<uint64_t>(info.st_dev);
  identity->object = static_cast<uint64_t>(info.st_ino);
  return 1;
}
