// POSIX back end of the file service: plain files through open/read/write,
// PathSize through stat and the temporary folder from $TMPDIR. Paths may use
// "\" as the separator; it means "/" here, unless SetNativePaths made it an
// ordinary character.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/file.h"
#include "runtime/file_native.h"

extern const int kNamesAreUtf8 = 1;
extern const char kPathSeparator = '/';
extern const int32_t kSystemPathBytes = kPathCapacity;

namespace {

// Handles are descriptor + 1, so that descriptor 0 is not taken for no file.
int Descriptor(NativeFile file) { return static_cast<int>(file - 1); }
NativeFile FromDescriptor(int descriptor) { return descriptor < 0 ? 0 : descriptor + 1; }

const int64_t kNanosecondsPerSecond = 1000000000;

int64_t NanosecondsOf(const struct timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * kNanosecondsPerSecond + time.tv_nsec;
}

bool IsFolder(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

NativeFile NativeOpenForReading(const Text& path) {
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return 0;
  // O_NONBLOCK: a named pipe put in a file's place must not make the open
  // wait for a writer; it is refused below. The flag goes again once the
  // file has proved to be a regular one.
  int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return 0;
  // open() accepts a folder, a pipe, a socket or a device for reading;
  // Windows finds none of them in a folder, and neither do we.
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      fcntl(descriptor, F_SETFL, 0) != 0) {
    close(descriptor);
    return 0;
  }
  return FromDescriptor(descriptor);
}

NativeFile NativeCreateForWriting(const Text& path) {
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return 0;
  return FromDescriptor(open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

NativeFile NativeCreateNew(const Text& path) {
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return 0;
  return FromDescriptor(open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

NativeFile NativeOpenForOverwriting(const Text& path) {
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return 0;
  // O_NONBLOCK: a named pipe in the file's place must not make the open wait.
  int descriptor = open(name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return 0;
  // Looked at through the descriptor, so that no file put under the name
  // meanwhile can answer, and emptied only then.
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1 ||
      fcntl(descriptor, F_SETFL, 0) != 0 || ftruncate(descriptor, 0) != 0) {
    close(descriptor);
    return 0;
  }
  return FromDescriptor(descriptor);
}

int32_t NativeRead(NativeFile file, void* destination, int32_t length) {
  char* out = static_cast<char*>(destination);
  int32_t total = 0;
  while (total < length) {
    ssize_t got = read(Descriptor(file), out + total, length - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<int32_t>(got);
  }
  return total;
}

int32_t NativeWrite(NativeFile file, const void* source, int32_t length) {
  const char* in = static_cast<const char*>(source);
  int32_t total = 0;
  while (total < length) {
    ssize_t put = write(Descriptor(file), in + total, length - total);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    total += static_cast<int32_t>(put);
  }
  return total;
}

int64_t NativeFileSize(NativeFile file) {
  struct stat status;
  if (fstat(Descriptor(file), &status) != 0) return -1;
  return status.st_size;
}

int NativeSeek(NativeFile file, int64_t offset) {
  return lseek(Descriptor(file), static_cast<off_t>(offset), SEEK_SET) ==
         static_cast<off_t>(offset);
}

void NativeClose(NativeFile file) { close(Descriptor(file)); }

int RemoveFile(const Text& path) {
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return 0;
  return unlink(name) == 0 ? 1 : 0;
}

int RemoveOwnPlainFile(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  struct stat status;
  if (lstat(name, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
    return 0;
  }
  return unlink(name) == 0 ? 1 : 0;
}

int RemoveFileAtSystemPath(const char* systemPath) {
  return systemPath != nullptr && unlink(systemPath) == 0 ? 1 : 0;
}

int NativeFileIdentity(NativeFile file, PathIdentity* identity) {
  struct stat status;
  if (fstat(Descriptor(file), &status) != 0) return 0;
  identity->volume = static_cast<uint64_t>(status.st_dev);
  identity->object = static_cast<uint64_t>(status.st_ino);
  return 1;
}

int NativeFileState(NativeFile file, FileState* state) {
  struct stat status;
  if (fstat(Descriptor(file), &status) != 0) return 0;
  state->identity.volume = static_cast<uint64_t>(status.st_dev);
  state->identity.object = static_cast<uint64_t>(status.st_ino);
  state->size = status.st_size;
  state->writeTime = NanosecondsOf(status.st_mtim);
  state->changeTime = NanosecondsOf(status.st_ctim);
  return 1;
}

int NativeMarkInUse(NativeFile file) { return flock(Descriptor(file), LOCK_EX | LOCK_NB) == 0; }

int RemoveFileLeftBehind(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  int descriptor = open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return 0;
  // Looked at through the descriptor; the lock is held while the name goes,
  // so that no run can mark it in use meanwhile.
  struct stat status;
  int removable = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
                  status.st_nlink == 1 && status.st_uid == geteuid() &&
                  flock(descriptor, LOCK_EX | LOCK_NB) == 0;
  // The name must still be the file looked at.
  struct stat named;
  removable = removable && lstat(name, &named) == 0 && named.st_dev == status.st_dev &&
              named.st_ino == status.st_ino && unlink(name) == 0;
  close(descriptor);
  return removable;
}

void NativeAwaitWrites(NativeFile file) {
  // A write holds the file's lock from taking its time stamp to its last
  // byte; looking for data takes the same lock on ext4, btrfs and tmpfs,
  // and so waits. Elsewhere it is only a seek.
  off_t position = lseek(Descriptor(file), 0, SEEK_CUR);
  if (position < 0) return;
  lseek(Descriptor(file), position, SEEK_DATA);
  lseek(Descriptor(file), position, SEEK_SET);
}

int64_t PathSize(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return -1;
  // One trailing separator goes, except from the root "/" itself.
  size_t length = strlen(name);
  if (length > 1 && name[length - 1] == '/') name[length - 1] = 0;
  struct stat status;
  if (stat(name, &status) != 0) {
    // A link whose target is gone still exists as a name; Windows reports
    // such a link with size 0.
    return lstat(name, &status) == 0 ? 0 : -1;
  }
  if (S_ISDIR(status.st_mode)) return -2;
  return status.st_size;
}

Text TempDirectory() {
  // $TMPDIR counts only when it names a folder and, with its final "/",
  // fits a path; otherwise /tmp, as other programs do.
  const char* variable = getenv("TMPDIR");
  Text folder("/tmp");
  if (variable && variable[0] && IsFolder(variable)) {
    size_t length = strlen(variable);
    size_t needed = length + (variable[length - 1] == '/' ? 0 : 1) + 1;
    if (needed <= static_cast<size_t>(kPathCapacity)) folder = Text(variable);
  }
  if (folder.Last() != '/') folder += '/';
  return folder;
}
