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

#include <atomic>

#include "runtime/file.h"
#include "runtime/file_native.h"

extern const int kNamesAreUtf8 = 1;
extern const char kPathSeparator = '/';
extern const int32_t kSystemPathBytes = kPathCapacity;

namespace {

// Handles are descriptor + 1, so that descriptor 0 is not taken for no file.
int Descriptor(NativeFile file) { return static_cast<int>(file - 1); }
NativeFile FromDescriptor(int descriptor) { return descriptor < 0 ? 0 : descriptor + 1; }

// A seek only notes the position, and the reads after it go through pread
// from there: reading a small record somewhere in an archive then costs one
// system call, not two. A write, or a look at the descriptor's own offset,
// first moves that offset to the noted position. Kept per descriptor, as
// position + 1 (0: nothing noted, the descriptor's own offset counts); a
// descriptor is used by one thread at a time, and those past the table seek
// at once.
const int kNotedDescriptors = 4096;
std::atomic<int64_t> gNotedPosition[kNotedDescriptors];

std::atomic<int64_t>* NotedPosition(int descriptor) {
  return descriptor >= 0 && descriptor < kNotedDescriptors ? &gNotedPosition[descriptor] : nullptr;
}

// A new descriptor starts at its own offset.
NativeFile Fresh(int descriptor) {
  std::atomic<int64_t>* noted = NotedPosition(descriptor);
  if (noted != nullptr) noted->store(0, std::memory_order_relaxed);
  return FromDescriptor(descriptor);
}

// Moves the descriptor's own offset to the noted position, if any. 1 on
// success.
int SettleOffset(int descriptor) {
  std::atomic<int64_t>* noted = NotedPosition(descriptor);
  int64_t position = noted != nullptr ? noted->exchange(0, std::memory_order_relaxed) : 0;
  if (position == 0) return 1;
  return lseek(descriptor, static_cast<off_t>(position - 1), SEEK_SET) ==
         static_cast<off_t>(position - 1);
}

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
  return Fresh(descriptor);
}

NativeFile NativeCreateForWriting(const Text& path) {
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return 0;
  return Fresh(open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

NativeFile NativeCreateNew(const Text& path) {
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return 0;
  return Fresh(open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
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
  return Fresh(descriptor);
}

int32_t NativeRead(NativeFile file, void* destination, int32_t length) {
  int descriptor = Descriptor(file);
  std::atomic<int64_t>* noted = NotedPosition(descriptor);
  int64_t position = noted != nullptr ? noted->load(std::memory_order_relaxed) : 0;
  char* out = static_cast<char*>(destination);
  int32_t total = 0;
  while (total < length) {
    ssize_t got = position != 0 ? pread(descriptor, out + total, length - total,
                                        static_cast<off_t>(position - 1 + total))
                                : read(descriptor, out + total, length - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<int32_t>(got);
  }
  if (position != 0) noted->store(position + total, std::memory_order_relaxed);
  return total;
}

int32_t NativeWrite(NativeFile file, const void* source, int32_t length) {
  if (!SettleOffset(Descriptor(file))) return 0;
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
  std::atomic<int64_t>* noted = NotedPosition(Descriptor(file));
  if (noted != nullptr && offset >= 0 && offset < INT64_MAX) {
    noted->store(offset + 1, std::memory_order_relaxed);
    return 1;
  }
  return lseek(Descriptor(file), static_cast<off_t>(offset), SEEK_SET) ==
         static_cast<off_t>(offset);
}

void NativeClose(NativeFile file) {
  std::atomic<int64_t>* noted = NotedPosition(Descriptor(file));
  if (noted != nullptr) noted->store(0, std::memory_order_relaxed);
  close(Descriptor(file));
}

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
  if (!SettleOffset(Descriptor(file))) return;
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
