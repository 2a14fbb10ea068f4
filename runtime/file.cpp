// Numbered files with their 4096-byte buffer: the table of open files and the
// buffered reading and writing, the same on every platform; plain files go
// straight to the platform's calls, which come through file_native.h.
#include "runtime/file.h"

#include <stdlib.h>
#include <string.h>

#include "runtime/file_info.h"
#include "runtime/file_native.h"
#include "runtime/numbered_table.h"
#include "runtime/system.h"

namespace {

// One open file. The buffer serves either reading or writing:
//   reading == 1: buffer[filled - remaining .. filled) is read ahead, not yet
//                 delivered (the state after opening);
//   reading == 0: buffer[0 .. bufferSize - remaining) waits to be written.
struct FileRecord {
  NativeFile handle;
  char* buffer;
  int32_t bufferSize;
  int32_t remaining;
  int32_t filled;
  int32_t reading;
  int32_t writable;
};

NumberedTable<FileRecord> gFiles;

// SetNativePaths: 1 when "\" is an ordinary character of POSIX paths.
int gNativePaths = 0;

// Writes the waiting bytes and empties the buffer. False when the file took
// fewer than all of them; they are dropped either way.
bool FlushBuffer(FileRecord* file) {
  int32_t waiting = file->bufferSize - file->remaining;
  file->remaining = file->bufferSize;
  if (waiting <= 0) return true;
  return NativeWrite(file->handle, file->buffer, waiting) == waiting;
}

// Enters n's table record for a file that has just opened. The file that
// n held before is closed only now, so a failed opening leaves it alone.
intptr_t EnterFile(intptr_t n, NativeFile handle, bool writable) {
  if (!handle) return 0;
  intptr_t id = ReserveRecord(gFiles, n);
  char* buffer = id >= 0 ? static_cast<char*>(malloc(kFileBufferBytes)) : nullptr;
  if (!buffer) {
    NativeClose(handle);
    return 0;
  }
  CloseFileNumber(id);
  FileRecord* file = RecordSlot(gFiles, id);
  file->handle = handle;
  file->buffer = buffer;
  file->bufferSize = kFileBufferBytes;
  file->remaining = 0;
  file->filled = 0;
  file->reading = 1;
  file->writable = writable ? 1 : 0;
  return n == kAnyNumber ? id : handle;
}

}  // namespace

int CopySystemPath(const Text& path, char* buffer, int32_t capacity) {
  int length = path.Length();
  if (length + 1 > capacity) return 0;
  const char* source = path.c_str();
  for (int i = 0; i < length; i++) {
    char c = source[i];
    if (c == 0) return 0;
    buffer[i] = (c == '\\' && !gNativePaths) ? kPathSeparator : c;
  }
  buffer[length] = 0;
  return 1;
}

bool CopyPathToBuffer(const Text& path, char* buffer) {
  return CopySystemPath(path, buffer, kPathCapacity) != 0;
}

void SetNativePaths(int native) { gNativePaths = native != 0 ? 1 : 0; }

bool BuildSearchPath(const Text& folder, const Text& pattern, char* buffer) {
  char last = folder.Last();
  bool separator =
      !folder.IsEmpty() && last != kPathSeparator && (last != '\\' || gNativePaths);
  Text search = folder;
  if (separator) search += kPathSeparator;
  search += pattern.IsEmpty() ? Text("*.*") : pattern;
  // A text that ran out of memory comes back shorter than its parts.
  if (search.Length() !=
      folder.Length() + (separator ? 1 : 0) + (pattern.IsEmpty() ? 3 : pattern.Length()))
    return false;
  return CopyPathToBuffer(search, buffer);
}

namespace {
// The file that n holds is flushed before the new opening looks at the disk,
// though closed only after it: when the new opening empties the same path,
// no late flush of the old bytes lands in it. (Windows refuses such a
// reopening through its share modes; POSIX has none.)
void FlushBeforeReuse(intptr_t n) {
  FileRecord* file = FindRecord(gFiles, n);
  if (file && !file->reading) FlushBuffer(file);
}
}  // namespace

intptr_t OpenFileForReading(intptr_t n, const Text& path) {
  if (!IsUsableNumber(n)) return 0;
  FlushBeforeReuse(n);
  return EnterFile(n, NativeOpenForReading(path), false);
}

intptr_t CreateFileForWriting(intptr_t n, const Text& path) {
  // Checked first so that a refused number never empties the file.
  if (!IsUsableNumber(n)) return 0;
  FlushBeforeReuse(n);
  return EnterFile(n, NativeCreateForWriting(path), true);
}

intptr_t CreateNewFileForWriting(intptr_t n, const Text& path) {
  if (!IsUsableNumber(n)) return 0;
  FlushBeforeReuse(n);
  return EnterFile(n, NativeCreateNew(path), true);
}

intptr_t OpenFileForOverwriting(intptr_t n, const Text& path) {
  // Checked first so that a refused number never empties the file.
  if (!IsUsableNumber(n)) return 0;
  FlushBeforeReuse(n);
  return EnterFile(n, NativeOpenForOverwriting(path), true);
}

int64_t FileLength(intptr_t n) {
  FileRecord* file = FindRecord(gFiles, n);
  if (!file) return -1;
  int64_t size = NativeFileSize(file->handle);
  if (size < 0) return -1;
  if (!file->reading) size += file->bufferSize - file->remaining;
  return size;
}

int32_t ReadBytes(intptr_t n, void* destination, int32_t length) {
  FileRecord* file = FindRecord(gFiles, n);
  if (!file || !destination || length <= 0) return 0;
  char* out = static_cast<char*>(destination);

  if (!file->reading) {
    FlushBuffer(file);
    file->reading = 1;
    file->remaining = 0;
  }
  if (file->remaining >= length) {
    memcpy(out, file->buffer + file->filled - file->remaining, length);
    file->remaining -= length;
    return length;
  }

  int32_t delivered = file->remaining;
  memcpy(out, file->buffer + file->filled - delivered, delivered);
  file->remaining = 0;
  int32_t rest = length - delivered;
  if (rest >= file->bufferSize) {
    // Large reads go straight to the caller; the buffer would only add a copy.
    return delivered + NativeRead(file->handle, out + delivered, rest);
  }
  int32_t got = NativeRead(file->handle, file->buffer, file->bufferSize);
  file->filled = got;
  file->remaining = got;
  int32_t copied = rest < got ? rest : got;
  memcpy(out + delivered, file->buffer, copied);
  file->remaining -= copied;
  return delivered + copied;
}

int EndOfFile(intptr_t n) {
  FileRecord* file = FindRecord(gFiles, n);
  if (!file) return 1;
  char byte;
  if (ReadBytes(n, &byte, 1) != 1) return 1;
  // The byte is still in the buffer: step back over it.
  file->remaining += 1;
  return 0;
}

int32_t WriteBytes(intptr_t n, const void* source, int32_t length) {
  FileRecord* file = FindRecord(gFiles, n);
  if (!file || !source || length <= 0 || !file->writable) return 0;

  if (file->reading) {
    file->reading = 0;
    file->remaining = file->bufferSize;
  }
  if (length < file->remaining) {
    memcpy(file->buffer + file->bufferSize - file->remaining, source, length);
    file->remaining -= length;
    return length;
  }
  if (!FlushBuffer(file)) return 0;
  if (length >= file->bufferSize) return NativeWrite(file->handle, source, length);
  memcpy(file->buffer, source, length);
  file->remaining -= length;
  return length;
}

int32_t WriteInt32(intptr_t n, int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  unsigned char bytes[4] = {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                            static_cast<unsigned char>(bits >> 16),
                            static_cast<unsigned char>(bits >> 24)};
  return WriteBytes(n, bytes, 4);
}

void CloseFileNumber(intptr_t n) {
  FileRecord* file = FindRecord(gFiles, n);
  if (!file) return;
  if (!file->reading) FlushBuffer(file);
  free(file->buffer);
  NativeClose(file->handle);
  FreeRecord(gFiles, n);
}

void CloseAllFiles() { CloseEveryRecord(gFiles, CloseFileNumber); }

int GetOpenFileIdentity(intptr_t n, PathIdentity* identity) {
  FileRecord* file = FindRecord(gFiles, n);
  if (!file || identity == nullptr) return 0;
  return NativeFileIdentity(file->handle, identity);
}

namespace {

const int64_t kNanosecondsPerMillisecond = 1000000;
const int64_t kNanosecondsPerSecond = 1000000000;
// A write takes its time when it begins: a second one within the same tick
// of the clock, or, where a reader cannot wait for a write under way
// (NativeAwaitWrites), one still copying its bytes while the file is read,
// leaves every time as it was. A file is taken as it stands only once it has
// been left alone this long.
const int64_t kQuietNs = 100 * kNanosecondsPerMillisecond;
// A time of whole seconds may come from a file system that keeps no finer
// ones, or only every other second (FAT): a change within those 2 seconds
// keeps it.
const int64_t kCoarseQuietNs = 2 * kNanosecondsPerSecond;
// How far ahead of the clock a change time may lie and still be waited for.
const int64_t kSettleLimitNs = 2 * kNanosecondsPerSecond + 500 * kNanosecondsPerMillisecond;

// Takes the file's state; with settle, only once no write is under way and
// the file has been left alone long enough (above). -1 when it is written
// to meanwhile.
int FileStateOf(NativeFile file, FileState* state, int settle) {
  if (file == 0 || state == nullptr) return 0;
  FileState first;
  int32_t looks = 0;
  for (;;) {
    // The clock first: a change after this moment gets a later time than the
    // one the state shows, provided that time lies before this moment.
    int64_t now = FileClockNow();
    if (!NativeFileState(file, state)) return 0;
    if (!settle) return 1;
    // A write under way took its time before that look; once it has ended,
    // a second look shows whether another one began meanwhile.
    FileState before = *state;
    NativeAwaitWrites(file);
    if (!NativeFileState(file, state)) return 0;
    if (!SameFileState(before, *state) || (looks++ > 0 && !SameFileState(first, *state))) {
      return -1;
    }
    first = *state;
    int64_t quiet = state->changeTime % kNanosecondsPerSecond == 0 ? kCoarseQuietNs : kQuietNs;
    int64_t ahead = state->changeTime + quiet - now;
    if (ahead < 0 || ahead > kSettleLimitNs) return 1;
    PauseMilliseconds(static_cast<int32_t>(ahead / kNanosecondsPerMillisecond) + 1);
  }
}

}  // namespace

int MarkFileInUse(intptr_t n) {
  FileRecord* file = FindRecord(gFiles, n);
  return file != nullptr ? NativeMarkInUse(file->handle) : 0;
}

int GetOpenFileState(intptr_t n, FileState* state, int settle) {
  FileRecord* file = FindRecord(gFiles, n);
  return file != nullptr ? FileStateOf(file->handle, state, settle) : 0;
}

int GetPlainFileState(intptr_t file, FileState* state, int settle) {
  return FileStateOf(file, state, settle);
}

int GetPlainFileIdentity(intptr_t file, PathIdentity* identity) {
  if (file == 0 || identity == nullptr) return 0;
  return NativeFileIdentity(file, identity);
}

intptr_t OpenPlainFileForReading(const Text& path) { return NativeOpenForReading(path); }

intptr_t CreateNewPlainFile(const Text& path) { return NativeCreateNew(path); }

int32_t ReadPlainFile(intptr_t file, void* destination, int32_t length) {
  if (file == 0 || destination == nullptr || length <= 0) return 0;
  return NativeRead(file, destination, length);
}

int32_t WritePlainFile(intptr_t file, const void* source, int32_t length) {
  if (file == 0 || source == nullptr || length <= 0) return 0;
  return NativeWrite(file, source, length);
}

int64_t PlainFileLength(intptr_t file) { return file == 0 ? -1 : NativeFileSize(file); }

int SeekPlainFile(intptr_t file, int64_t offset) {
  return file != 0 && offset >= 0 && NativeSeek(file, offset);
}

void ClosePlainFile(intptr_t file) {
  if (file != 0) NativeClose(file);
}
