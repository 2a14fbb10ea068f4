// POSIX back end of the file replacement: rename(2) swaps the name in one
// step; renameat2(2) with RENAME_NOREPLACE takes a free name in one step,
// link(2) and unlink(2) where the file system lacks it.
#include "runtime/file_replace.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/file.h"
#include "runtime/file_native.h"

int ReplaceFileWith(const Text& target, const Text& replacement) {
  char to[kPathCapacity];
  char from[kPathCapacity];
  if (target.IsEmpty() || replacement.IsEmpty()) return 0;
  if (!CopyPathToBuffer(target, to) || !CopyPathToBuffer(replacement, from)) return 0;
  return rename(from, to) == 0 ? 1 : 0;
}

int RenameWithoutReplacing(const Text& target, const Text& replacement) {
  char to[kPathCapacity];
  char from[kPathCapacity];
  if (target.IsEmpty() || replacement.IsEmpty()) return 0;
  if (!CopyPathToBuffer(target, to) || !CopyPathToBuffer(replacement, from)) {
    errno = ENAMETOOLONG;
    return 0;
  }
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 1;
  // Kernels before 3.15 and some file systems (older NFS, FUSE) lack it.
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return 0;
  if (link(from, to) == 0) {
    unlink(from);
    return 1;
  }
  // File systems without hard links (FAT): the name is looked at last.
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return 0;
  struct stat facts;
  if (lstat(to, &facts) == 0) {
    errno = EEXIST;
    return 0;
  }
  return rename(from, to) == 0 ? 1 : 0;
}
