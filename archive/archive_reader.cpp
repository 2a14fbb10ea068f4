// The archive reader over minizip's reading functions. It owns the reader
// state (the one open archive); the extraction thread is its only user.
// Files reach the disk through the runtime's file services only.
#include "archive/archive_reader.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <unzip.h>

#include "archive/entry_name.h"
#include "archive/output_layout.h"
#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/file_replace.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"

// The reader state. The password flag and password are for a caller that
// sets them; the stub never does.
static unzFile read_handle = nullptr;
static int password_flag = 0;
static const char* password = "";

// ---------------------------------------------------------------------------
// A view of a file without its last bytes, for minizip's unzOpen2. minizip
// searches the view for the end record exactly as it searches a whole file.

struct FileView {
  FILE* file;
  long visibleBytes;
  long position;
};

// opaque points at the number of bytes the view leaves off the end.
static voidpf ZCALLBACK ViewOpen(voidpf opaque, const char* filename, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  FILE* file = fopen(filename, "rb");
  if (file == nullptr) return nullptr;
  long cut = *static_cast<long*>(opaque);
  long length = -1;
  if (fseek(file, 0, SEEK_END) == 0) length = ftell(file);
  FileView* view = static_cast<FileView*>(malloc(sizeof(FileView)));
  if (length < cut || view == nullptr) {
    free(view);
    fclose(file);
    return nullptr;
  }
  view->file = file;
  view->visibleBytes = length - cut;
  view->position = 0;
  return view;
}

static uLong ZCALLBACK ViewRead(voidpf, voidpf stream, void* buffer, uLong size) {
  FileView* view = static_cast<FileView*>(stream);
  // Reads stop at the view's end, as they would at a file's end.
  uLong left = (uLong)(view->visibleBytes - view->position);
  if (size > left) size = left;
  if (size == 0 || fseek(view->file, view->position, SEEK_SET) != 0) return 0;
  size_t got = fread(buffer, 1, size, view->file);
  view->position += (long)got;
  return (uLong)got;
}

static uLong ZCALLBACK ViewWrite(voidpf, voidpf, const void*, uLong) {
  return 0;  // the view is read-only
}

static long ZCALLBACK ViewTell(voidpf, voidpf stream) {
  return static_cast<FileView*>(stream)->position;
}

static long ZCALLBACK ViewSeek(voidpf, voidpf stream, uLong offset, int origin) {
  FileView* view = static_cast<FileView*>(stream);
  long base = 0;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
    base = view->position;
  } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
    base = view->visibleBytes;
  } else if (origin != ZLIB_FILEFUNC_SEEK_SET) {
    return -1;
  }
  // The offset is unsigned; minizip passes none that would leave the view.
  long target = base + (long)offset;
  if (target < 0 || target > view->visibleBytes) return -1;
  view->position = target;
  return 0;
}

static int ZCALLBACK ViewClose(voidpf, voidpf stream) {
  FileView* view = static_cast<FileView*>(stream);
  int result = fclose(view->file);
  free(view);
  return result;
}

static int ZCALLBACK ViewError(voidpf, voidpf stream) {
  return ferror(static_cast<FileView*>(stream)->file);
}

// ---------------------------------------------------------------------------

// How far from the file's end the last end-record signature starts, looking
// at the last kEndRecordBytes + kTrailerBytes - 1 bytes only; 0 when none
// starts there. minizip's backward search takes the last occurrence, so a
// signature closer to the end than a whole record wins over the real one,
// and minizip then reads the missing fields as zeros.
static long SignatureDistanceFromEnd(const char* path) {
  const long kTailBytes = kEndRecordBytes + kTrailerBytes - 1;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return 0;
  unsigned char tail[kTailBytes];
  long length = -1;
  long got = 0;
  if (fseek(file, 0, SEEK_END) == 0) length = ftell(file);
  long start = length > kTailBytes ? length - kTailBytes : 0;
  if (length > 0 && fseek(file, start, SEEK_SET) == 0) {
    got = (long)fread(tail, 1, (size_t)(length - start), file);
  }
  fclose(file);
  for (long i = got - 4; i >= 0; --i) {
    uint32_t word = (uint32_t)tail[i] | (uint32_t)tail[i + 1] << 8 |
                    (uint32_t)tail[i + 2] << 16 | (uint32_t)tail[i + 3] << 24;
    if (word == kEndRecordSignature) return got - i;
  }
  return 0;
}

// Opens the file through a view without its last kTrailerBytes bytes.
static unzFile OpenWithoutTrailer(const Text& path) {
  static long trailer_bytes = kTrailerBytes;
  zlib_filefunc_def functions;
  functions.zopen_file = ViewOpen;
  functions.zread_file = ViewRead;
  functions.zwrite_file = ViewWrite;
  functions.ztell_file = ViewTell;
  functions.zseek_file = ViewSeek;
  functions.zclose_file = ViewClose;
  functions.zerror_file = ViewError;
  functions.opaque = &trailer_bytes;
  return unzOpen2(path.c_str(), &functions);
}

intptr_t OpenArchiveForReading(const Text& path) {
  CloseArchive();
  if (path.IsEmpty()) return 0;
  long distance = SignatureDistanceFromEnd(path.c_str());
  if (distance == kTrailerBytes) {
    // The trailer spells the signature (a payload of 101,010,256 bytes):
    // the search would stop there. Without the trailer it finds the record.
    read_handle = OpenWithoutTrailer(path);
  } else if (distance > 0 && distance < kEndRecordBytes) {
    return 0;  // the last record is cut short: the file was truncated
  } else {
    read_handle = unzOpen(path.c_str());
    // A trailer of other bytes never hides the record; one try without it
    // costs little and covers any other trailer trouble.
    if (read_handle == nullptr) read_handle = OpenWithoutTrailer(path);
  }
  if (read_handle == nullptr) return 0;
  // The central directory must lead to a readable first entry: offsets that
  // point elsewhere mean a damaged end record.
  unz_global_info global;
  if (unzGetGlobalInfo(read_handle, &global) != UNZ_OK ||
      (global.number_entry > 0 && unzGoToFirstFile(read_handle) != UNZ_OK)) {
    CloseArchive();
    return 0;
  }
  return (intptr_t)read_handle;
}

int GetArchiveInfo(ArchiveGlobalInfo* info) {
  if (read_handle == nullptr) return kReaderFailed;
  if (info == nullptr) return UNZ_PARAMERROR;
  unz_global_info global;
  int result = unzGetGlobalInfo(read_handle, &global);
  if (result == UNZ_OK) {
    info->entryCount = (uint32_t)global.number_entry;
    info->commentBytes = (uint32_t)global.size_comment;
  }
  return result;
}

int GoToFirstEntry() {
  if (read_handle == nullptr) return kReaderFailed;
  return unzGoToFirstFile(read_handle);
}

int GoToNextEntry() {
  if (read_handle == nullptr) return kReaderFailed;
  return unzGoToNextFile(read_handle);
}

int CloseArchive() {
  if (read_handle != nullptr) {
    unzClose(read_handle);
    read_handle = nullptr;
  }
  return 0;
}

// Reads the current entry's information and its whole name. The name is
// asked for with a buffer of its own stored length, so no name is ever cut.
static int ReadEntryInfo(unz_file_info* facts, Text* name) {
  int result = unzGetCurrentFileInfo(read_handle, facts, nullptr, 0, nullptr, 0, nullptr, 0);
  if (result != UNZ_OK) return result;
  int nameBytes = (int)facts->size_filename;
  char* buffer = static_cast<char*>(AllocateBlock(nameBytes + 1));
  if (buffer == nullptr) return kReaderFailed;
  result = unzGetCurrentFileInfo(read_handle, facts, buffer, nameBytes + 1, nullptr, 0,
                                 nullptr, 0);
  if (result == UNZ_OK) *name = Text(buffer, nameBytes);
  FreeBlock(buffer);
  return result;
}

int GetCurrentEntryInfo(ArchiveEntryInfo* info) {
  if (read_handle == nullptr) return kReaderFailed;
  if (info == nullptr) return UNZ_PARAMERROR;
  unz_file_info facts;
  Text name;
  int result = ReadEntryInfo(&facts, &name);
  if (result != UNZ_OK) return result;
  info->name = name;
  info->size = (uint32_t)facts.uncompressed_size;
  info->compressedSize = (uint32_t)facts.compressed_size;
  info->crc = (uint32_t)facts.crc;
  info->year = (int)facts.tmu_date.tm_year;
  info->month = (int)facts.tmu_date.tm_mon + 1;
  info->day = (int)facts.tmu_date.tm_mday;
  info->hour = (int)facts.tmu_date.tm_hour;
  info->minute = (int)facts.tmu_date.tm_min;
  info->second = (int)facts.tmu_date.tm_sec;
  return UNZ_OK;
}

static int OpenEntryData() {
  if (password_flag != 0) return unzOpenCurrentFilePassword(read_handle, password);
  return unzOpenCurrentFile(read_handle);
}

// Inflates the open entry chunk by chunk into the file numbered output
// (kAnyNumber: write nothing), then closes the entry, which checks the CRC.
// The entry must yield exactly its declared size.
static int InflateEntry(intptr_t output, uint32_t size) {
  char* chunk = static_cast<char*>(AllocateBlock(kInflateChunkBytes));
  if (chunk == nullptr) {
    unzCloseCurrentFile(read_handle);
    return kReaderFailed;
  }
  int result = kReaderOk;
  uint32_t total = 0;
  for (;;) {
    int got = unzReadCurrentFile(read_handle, chunk, kInflateChunkBytes);
    if (got < 0) {
      result = got;  // read error or damaged deflate data
      break;
    }
    if (got == 0) break;
    if (output != kAnyNumber && WriteBytes(output, chunk, got) != got) {
      result = kReaderWriteFailed;
      break;
    }
    total += (uint32_t)got;
  }
  FreeBlock(chunk);
  // A non-empty entry that yields nothing has no data at all.
  if (result == kReaderOk && total == 0 && size > 0) result = kReaderFailed;
  if (result == kReaderOk && total != size) result = kReaderDataShort;
  // minizip compares the CRC only once the whole declared size was read.
  int closed = unzCloseCurrentFile(read_handle);
  if (result == kReaderOk && closed != UNZ_OK) result = closed;
  return result;
}

int TestCurrentEntry() {
  if (read_handle == nullptr) return kReaderFailed;
  unz_file_info facts;
  Text name;
  int result = ReadEntryInfo(&facts, &name);
  if (result != UNZ_OK) return result;
  result = OpenEntryData();
  if (result != UNZ_OK) return result;
  if (facts.uncompressed_size == 0) {
    // Folders and empty files: the stream must still be sound.
    char probe[1];
    int got = unzReadCurrentFile(read_handle, probe, 1);
    int closed = unzCloseCurrentFile(read_handle);
    if (got < 0) return got;
    if (got > 0) return kReaderCrcMismatch;
    return closed;
  }
  return InflateEntry(kAnyNumber, (uint32_t)facts.uncompressed_size);
}

static int IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int SetFileModificationTime(const Text& path, int year, int month, int day, int hour,
                            int minute) {
  static const int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  // A DOS date covers 1980..2107; anything else, or a day that the month
  // does not have, is a damaged date, and the file keeps its write time.
  if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59) {
    return 0;
  }
  int days = kDaysInMonth[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  if (day > days) return 0;
  LocalTimeFields fields;
  fields.year = year;
  fields.month = month;
  fields.day = day;
  fields.hour = hour;
  fields.minute = minute;
  fields.second = 0;  // stored seconds are not used
  return SetFileWriteTime(path, fields);
}

// Turns the "\" of a relative name into the platform's separator.
static Text PlatformPath(const Text& name) {
  Text path;
  for (int i = 0; i < name.Length(); ++i) {
    char c = name.At(i);
    path += c == '\\' ? kPathSeparator : c;
  }
  return path;
}

// Picks a free name beside target for the file being written: its folder
// plus "~" and one letter or digit, short so that it fits wherever the
// target fits. Never the target's own name (an entry "~0"), as Windows
// matches names: case ignored, trailing dots and spaces dropped; the part
// file would otherwise be removed as the target. The empty text when none
// is free.
static Text PartFileName(const Text& target) {
  static const char kMarks[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  // A destination typed with a final "/" is a folder on Windows too: the
  // part file belongs there, not in a folder above it or the working folder.
  int slash = target.LastIndexOf(kPathSeparator);
  if (target.LastIndexOf('/') > slash) slash = target.LastIndexOf('/');
  Text folder = target.Middle(0, slash + 1);
  int ownBytes = target.Length() - slash - 1;
  for (char c; ownBytes > 0 && ((c = target.At(slash + ownBytes)) == '.' || c == ' ');) {
    --ownBytes;
  }
  for (int i = 0; kMarks[i] != 0; ++i) {
    if (ownBytes == 2 && target.At(slash + 1) == '~' &&
        tolower((unsigned char)target.At(slash + 2)) == kMarks[i]) {
      continue;
    }
    Text candidate = folder + "~";
    candidate += kMarks[i];
    if (candidate.Length() >= kPathCapacity) break;
    if (PathSize(candidate) == -1) return candidate;
  }
  return Text();
}

// Writes the target in place from the finished part file: the way out when
// the target cannot be replaced by name.
static int CopyOverTarget(const Text& part, const Text& target) {
  intptr_t source = OpenFileForReading(kAnyNumber, part);
  if (source == 0) return kReaderFailed;
  intptr_t output = CreateFileForWriting(kAnyNumber, target);
  if (output == 0) {
    CloseFileNumber(source);
    return kReaderFailed;
  }
  int result = kReaderOk;
  char* chunk = static_cast<char*>(AllocateBlock(kInflateChunkBytes));
  if (chunk == nullptr) result = kReaderFailed;
  while (result == kReaderOk) {
    int32_t got = ReadBytes(source, chunk, kInflateChunkBytes);
    if (got <= 0) break;
    if (WriteBytes(output, chunk, got) != got) result = kReaderWriteFailed;
  }
  FreeBlock(chunk);
  CloseFileNumber(output);
  CloseFileNumber(source);
  return result;
}

// Writes the open entry to target through a part file beside it.
static int WriteEntryFile(const Text& target, uint32_t size) {
  Text part = PartFileName(target);
  if (part.IsEmpty()) {
    unzCloseCurrentFile(read_handle);
    return kReaderFailed;
  }
  intptr_t output = CreateFileForWriting(kAnyNumber, part);
  if (output == 0) {
    unzCloseCurrentFile(read_handle);
    return kReaderFailed;  // output file not created
  }
  int result = InflateEntry(output, size);
  // Every byte must have reached the disk before the part may count as whole.
  if (result == kReaderOk && FileLength(output) != (int64_t)size) result = kReaderWriteFailed;
  CloseFileNumber(output);
  if (result == kReaderOk && PathSize(part) != (int64_t)size) result = kReaderWriteFailed;
  if (result == kReaderOk && !ReplaceFileWith(target, part)) {
    result = CopyOverTarget(part, target);
  }
  // Gone in every case: renamed onto the target, copied, or not good enough.
  RemoveFile(part);
  return result;
}

int ExtractCurrentEntry(const Text& destination, int keepFolders) {
  if (read_handle == nullptr) return kReaderFailed;
  Text folder = destination;
  if (folder.Last() != '\\' && folder.Last() != '/') folder += '\\';
  folder = PlatformPath(folder);
  MakePath(folder);  // for every entry, result ignored

  unz_file_info facts;
  Text stored;
  int result = ReadEntryInfo(&facts, &stored);
  if (result != UNZ_OK) return result;
  Text name = CleanEntryName(stored);
  uint32_t size = (uint32_t)facts.uncompressed_size;
  result = OpenEntryData();
  if (result != UNZ_OK) return result;

  // A folder entry: size 0 and a name that ends in "\" (or the empty name
  // of the packed folder itself). A size-0 entry with any other name is an
  // empty file, written below like every other file.
  if (size == 0 && (name.IsEmpty() || name.Last() == '\\')) {
    unzCloseCurrentFile(read_handle);
    if (keepFolders != 1) return kReaderOk;
    // Its name up to the last "\" names folders to make.
    name = DropDrivePrefix(name);
    if (!IsSafeEntryName(name)) return kReaderUnsafeName;
    Text path = folder + PlatformPath(FolderPartOf(name));
    if (path.Length() >= kPathCapacity) return kReaderNameTooLong;
    MakePath(path);
    return kReaderOk;
  }

  name = keepFolders == 0 ? FilePartOf(name) : DropDrivePrefix(name);
  if (!IsSafeEntryName(name)) {
    unzCloseCurrentFile(read_handle);
    return kReaderUnsafeName;
  }
  if (FilePartOf(name).IsEmpty()) {
    unzCloseCurrentFile(read_handle);
    return kReaderFailed;  // a file entry named like a folder: nothing to create
  }
  Text target = folder + PlatformPath(name);
  if (target.Length() >= kPathCapacity) {
    unzCloseCurrentFile(read_handle);
    return kReaderNameTooLong;
  }
  if (keepFolders != 0) MakePath(target);  // the folders above the file
  result = WriteEntryFile(target, size);
  if (result != kReaderOk) return result;
  SetFileModificationTime(target, (int)facts.tmu_date.tm_year, (int)facts.tmu_date.tm_mon + 1,
                          (int)facts.tmu_date.tm_mday, (int)facts.tmu_date.tm_hour,
                          (int)facts.tmu_date.tm_min);
  return kReaderOk;
}

Text ReaderResultText(int result) {
  switch (result) {
    case kReaderOk: return "ok";
    case kReaderFailed: return "no data, or the file could not be created";
    case kReaderEndOfEntries: return "no more entries";
    case UNZ_PARAMERROR: return "bad parameter";
    case UNZ_BADZIPFILE: return "damaged archive";
    case UNZ_INTERNALERROR: return "internal error";
    case kReaderCrcMismatch: return "CRC mismatch";
    case kReaderUnsafeName: return "unsafe name (it would land outside the destination)";
    case kReaderNameTooLong: return "name too long for this system";
    case kReaderWriteFailed: return "write error";
    case kReaderDataShort: return "data shorter than its declared size";
    case Z_DATA_ERROR: return "damaged compressed data";
    case Z_MEM_ERROR: return "out of memory";
    default: return Text("error ") + DecimalText(result);
  }
}
