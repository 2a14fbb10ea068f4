// Win32 back end of folder creation and file times: CreateDirectoryA along
// the path, and SetFileTime with the local time turned into UTC by
// LocalFileTimeToFileTime (the bias in force now, as the system's own tools do).
#include "runtime/filesystem.h"

#include <windows.h>

#include "runtime/file.h"
#include "runtime/file_native.h"

int MakePath(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  int last = -1;
  for (int i = 0; name[i] != 0; ++i) {
    if (name[i] == '\\' || name[i] == '/') last = i;
  }
  if (last < 0) return 1;  // no folder named
  // Every prefix ending at a separator is tried; drive roots, UNC server
  // parts and folders that exist already simply fail to be created.
  for (int i = 1; i <= last; ++i) {
    char c = name[i];
    if (c != '\\' && c != '/') continue;
    name[i] = 0;
    CreateDirectoryA(name, nullptr);
    name[i] = c;
  }
  name[last + 1] = 0;
  DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int IsLinkPath(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  for (int end = lstrlenA(name) - 1; end > 0 && name[end] == '\\'; --end) name[end] = 0;
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? 1 : 0;
}

int SetFileWriteTime(const Text& path, const LocalTimeFields& fields) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  if (fields.year < 1601 || fields.year > 9999) return 0;
  SYSTEMTIME parts = {};
  parts.wYear = (WORD)fields.year;
  parts.wMonth = (WORD)fields.month;
  parts.wDay = (WORD)fields.day;
  parts.wHour = (WORD)fields.hour;
  parts.wMinute = (WORD)fields.minute;
  parts.wSecond = (WORD)fields.second;
  FILETIME local;
  FILETIME universal;
  // SystemTimeToFileTime rejects fields that are no calendar date.
  if (!SystemTimeToFileTime(&parts, &local) || !LocalFileTimeToFileTime(&local, &universal)) {
    return 0;
  }
  HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  BOOL ok = SetFileTime(file, nullptr, nullptr, &universal);
  CloseHandle(file);
  return ok ? 1 : 0;
}
