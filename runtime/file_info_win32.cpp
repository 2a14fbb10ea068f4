// Win32 back end of the file facts: GetFileTime through the local clock, the
// volume serial number with the file index as a folder's identity, and the
// system time that file times are stamped with.
#include "runtime/file_info.h"

#include <windows.h>

#include "runtime/file.h"
#include "runtime/wide_path_win32.h"

namespace {

// The local wall-clock fields of a file time kept in universal time; 1 on
// success.
int LocalFieldsOfFileTime(const FILETIME& universal, LocalTimeFields* fields) {
  FILETIME local;
  SYSTEMTIME parts;
  if (!FileTimeToLocalFileTime(&universal, &local) || !FileTimeToSystemTime(&local, &parts)) {
    return 0;
  }
  fields->year = parts.wYear;
  fields->month = parts.wMonth;
  fields->day = parts.wDay;
  fields->hour = parts.wHour;
  fields->minute = parts.wMinute;
  fields->second = parts.wSecond;
  return 1;
}

}  // namespace

int GetFileModificationTime(const Text& path, LocalTimeFields* fields) {
  if (fields == nullptr || path.IsEmpty() || path.Length() >= kPathCapacity) return 0;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  FILETIME written;
  int ok = GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  return ok && LocalFieldsOfFileTime(written, fields);
}

int64_t FileClockNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return NanosecondsOfFileTime(now);
}

int LocalTimeOfFileTime(int64_t time, LocalTimeFields* fields) {
  if (fields == nullptr) return 0;
  int64_t ticks = time / kNanosecondsPerTick + kTicksBefore1970;
  if (ticks < 0) return 0;
  FILETIME universal;
  universal.dwLowDateTime = static_cast<DWORD>(ticks);
  universal.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return LocalFieldsOfFileTime(universal, fields);
}

int GetPathIdentity(const Text& path, PathIdentity* identity) {
  if (identity == nullptr || path.IsEmpty() || path.Length() >= kPathCapacity) return 0;
  // FILE_FLAG_BACKUP_SEMANTICS lets the call open folders; no access is asked
  // for, so locked files can be looked at too.
  HANDLE object =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (object == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  int ok = GetFileInformationByHandle(object, &info) != 0;
  CloseHandle(object);
  if (!ok) return 0;
  identity->volume = info.dwVolumeSerialNumber;
  identity->object = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return 1;
}
