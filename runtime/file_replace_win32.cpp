// Win32 back end of the file replacement: MoveFileExA replacing the target,
// with the write-through flag so the new name is on disk when it returns.
#include "runtime/file_replace.h"

#include <windows.h>

#include "runtime/file.h"
#include "runtime/wide_path_win32.h"

int ReplaceFileWith(const Text& target, const Text& replacement) {
  if (target.IsEmpty() || replacement.IsEmpty()) return 0;
  if (IsExtendedPath(target) || IsExtendedPath(replacement)) {
    wchar_t* to = WidePathOf(target, 0);
    wchar_t* from = WidePathOf(replacement, 0);
    int moved = to != nullptr && from != nullptr &&
                MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    FreeWidePath(to);
    FreeWidePath(from);
    return moved ? 1 : 0;
  }
  if (target.Length() >= kPathCapacity || replacement.Length() >= kPathCapacity) return 0;
  return MoveFileExA(replacement.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 1
             : 0;
}
