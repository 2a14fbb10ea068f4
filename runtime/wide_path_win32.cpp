// Extended paths for the Win32 back ends: conversion between UTF-8, the ANSI
// code page and UTF-16, in blocks of the process heap; the final path of an
// open handle.
#include "runtime/wide_path_win32.h"

#include "runtime/file.h"

int IsExtendedPath(const Text& path) {
  return path.Length() >= 4 && path.At(0) == '\\' && path.At(1) == '\\' && path.At(2) == '?' &&
         path.At(3) == '\\';
}

wchar_t* WideTextOf(const Text& text, UINT codePage) {
  DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  int length = text.Length();
  int needed =
      length == 0 ? 0 : MultiByteToWideChar(codePage, flags, text.c_str(), length, nullptr, 0);
  if (length > 0 && needed <= 0) return nullptr;
  wchar_t* wide = static_cast<wchar_t*>(
      HeapAlloc(GetProcessHeap(), 0, (static_cast<SIZE_T>(needed) + 1) * sizeof(wchar_t)));
  if (wide == nullptr) return nullptr;
  if (needed > 0 &&
      MultiByteToWideChar(codePage, flags, text.c_str(), length, wide, needed) != needed) {
    HeapFree(GetProcessHeap(), 0, wide);
    return nullptr;
  }
  wide[needed] = 0;
  return wide;
}

Text Utf8TextOf(const wchar_t* text) {
  int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) return Text();
  char* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(needed)));
  if (bytes == nullptr) return Text();
  Text result;
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, needed, nullptr, nullptr) == needed) {
    result = Text(bytes, needed - 1);
  }
  HeapFree(GetProcessHeap(), 0, bytes);
  return result;
}

wchar_t* WidePathOf(const Text& path, int dropTrailing) {
  if (!IsExtendedPath(path)) return nullptr;
  wchar_t* wide = WideTextOf(path, CP_UTF8);
  if (wide == nullptr) return nullptr;
  int length = lstrlenW(wide);
  if (length >= kExtendedPathCapacity) {
    FreeWidePath(wide);
    return nullptr;
  }
  // "\\?\C:\" keeps its separator: it names the drive's root.
  while (dropTrailing && length > 7 && wide[length - 1] == L'\\') wide[--length] = 0;
  return wide;
}

void FreeWidePath(wchar_t* path) {
  if (path != nullptr) HeapFree(GetProcessHeap(), 0, path);
}

namespace {

typedef DWORD(WINAPI* FinalPathProcedure)(HANDLE file, LPSTR path, DWORD capacity, DWORD flags);

}  // namespace

Text FinalPathOfHandle(HANDLE object, const char* name) {
  char resolved[kPathCapacity + 8];
  DWORD length = 0;
  // Systems before Vista lack GetFinalPathNameByHandleA, so it is looked up;
  // without it the full path stands, links unresolved.
  HMODULE kernel = GetModuleHandleA("Kernel32.DLL");
  FARPROC found = kernel ? GetProcAddress(kernel, "GetFinalPathNameByHandleA") : nullptr;
  if (found) {
    FinalPathProcedure finalPath =
        reinterpret_cast<FinalPathProcedure>(reinterpret_cast<void*>(found));
    length = finalPath(object, resolved, sizeof(resolved), 0);
  } else {
    length = GetFullPathNameA(name, sizeof(resolved), resolved, nullptr);
  }
  if (length == 0 || length >= sizeof(resolved)) return Text();
  Text result(resolved, static_cast<int>(length));
  // "\\?\C:\x" names C:\x, and "\\?\UNC\server\share" the share.
  if (result.Middle(0, 8) == "\\\\?\\UNC\\") {
    result = Text("\\\\") + result.Middle(8, result.Length());
  } else if (result.Middle(0, 4) == "\\\\?\\") {
    result = result.Middle(4, result.Length());
  }
  if (result.Length() > 3 && result.Last() == '\\') result = result.Middle(0, result.Length() - 1);
  if (result.Length() >= kPathCapacity) return Text();
  return result;
}

int64_t NanosecondsOfFileTime(const FILETIME& time) {
  int64_t ticks = (static_cast<int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return (ticks - kTicksBefore1970) * kNanosecondsPerTick;
}
