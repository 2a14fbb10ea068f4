// Win32 back end of the file replacement: MoveFileExW, replacing the target
// or not, with the write-through flag so the new name is on disk when it
// returns. Both paths go to the wide function, so that an ANSI path and an
// extended one (wide_path_win32.h) can meet in one move.
#include "runtime/file_replace.h"

#include <windows.h>

#include "runtime/file.h"
#include "runtime/file_native.h"
#include "runtime/wide_path_win32.h"

namespace {

// The UTF-16 form of an extended path, or of an ANSI path that fits
// kPathCapacity; null otherwise. Released with FreeWidePath.
wchar_t* WideFormOf(const Text& path) {
  if (IsExtendedPath(path)) return WidePathOf(path, 0);
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return nullptr;
  return WideTextOf(Text(name), CP_ACP);
}

int Move(const Text& target, const Text& replacement, DWORD flags) {
  wchar_t* to = WideFormOf(target);
  wchar_t* from = WideFormOf(replacement);
  int moved = to != nullptr && from != nullptr && MoveFileExW(from, to, flags);
  if (to == nullptr || from == nullptr) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  FreeWidePath(to);
  FreeWidePath(from);
  return moved ? 1 : 0;
}

}  // namespace

int ReplaceFileWith(const Text& target, const Text& replacement) {
  return Move(target, replacement, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

int RenameWithoutReplacing(const Text& target, const Text& replacement) {
  return Move(target, replacement, MOVEFILE_WRITE_THROUGH);
}
