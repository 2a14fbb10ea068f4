// POSIX back end of the file replacement: rename(2) swaps the name in one step.
#include "runtime/file_replace.h"

#include <stdio.h>

#include "runtime/file.h"

int ReplaceFileWith(const Text& target, const Text& replacement) {
  if (target.IsEmpty() || replacement.IsEmpty()) return 0;
  if (target.Length() >= kPathCapacity || replacement.Length() >= kPathCapacity) return 0;
  return rename(replacement.c_str(), target.c_str()) == 0 ? 1 : 0;
}
