// Extended paths for the Win32 back ends: conversion between UTF-8, the ANSI
// code page and UTF-16, in blocks of the process heap.
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
