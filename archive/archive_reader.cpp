// The archive reader over minizip's reading functions. It owns the reader
// state (the one open archive and its checked central directory); the
// extraction thread is its only user. minizip reads the archive through a
// view of the file (archive_view.h); entries whose local header minizip
// refuses are read through the C library's streams and zlib; files reach
// the disk through the runtime's file services.
#include "archive/archive_reader.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <unzip.h>

#include "archive/archive_view.h"
#include "archive/entry_name.h"
#include "archive/output_layout.h"
#include "runtime/date.h"
#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/file_replace.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"
#include "runtime/name_encoding.h"

namespace {

const uint16_t kMethodStored = 0;
const uint16_t kMethodDeflated = 8;
const uint16_t kFlagEncrypted = 0x0001;

// The reader state: open or not, the archive's path (a copy from
// CopyToCString, so that the state needs no constructor or destructor), the
// checked directory, the current entry, and minizip's handle (none for an
// archive without entries).
int gOpen = 0;
char* gPath = nullptr;
unzFile gHandle = nullptr;
CentralDirectory gDirectory = {0, 0, 0, 0, nullptr};
int64_t gCurrent = 0;

// The part file being written, for RemovePartFileInProgress on another
// thread: the name is complete before the flag is raised. The block is
// made once, large enough for any extended path, and never freed.
const int kPartNameBytes = 3 * kExtendedPathCapacity + 1;
char* gPartInProgress = nullptr;
volatile int gPartActive = 0;

const CatalogueEntry* CurrentEntry() {
  if (!gOpen || gCurrent < 0 || gCurrent >= gDirectory.count) return nullptr;
  return &gDirectory.entries[gCurrent];
}

// Makes entry index current in minizip too, from its central record's offset.
int SelectEntry(int64_t index) {
  gCurrent = index;
  return unzSetOffset64(gHandle, gDirectory.entries[index].recordOffset);
}

}  // namespace

int OpenArchiveChecked(const Text& path, int32_t searchBytes) {
  CloseArchive();
  if (path.IsEmpty()) return kCatalogueNoArchive;
  int result = ReadCentralDirectory(path, searchBytes, &gDirectory);
  if (result != kCatalogueOk) return result;
  if (gDirectory.count > 0) {
    gHandle = OpenArchiveView(path, gDirectory.archiveStart, gDirectory.endRecordEnd);
    result = gHandle == nullptr ? kCatalogueBadRecord : kCatalogueOk;
    // Every record must be one that minizip reads too, here and not only
    // when extraction reaches it, with the entries before it written: an
    // extra field claiming bytes past the archive's end is not. In order,
    // so that the view's blocks serve many records each.
    //
    // minizip finds the directory from the end records on its own, and takes
    // any bytes between the directory's end and those records for a prefix,
    // adding their number to every offset it reads. Where it reads them
    // otherwise than the check did (a Zip64 locator further back, a gap
    // before the Zip64 end record), it would read other records than the
    // checked ones: each record must be read where the check found it.
    for (int64_t i = 0; result == kCatalogueOk && i <= gDirectory.count; ++i) {
      // Last, the first entry again, which stays current.
      int64_t index = i < gDirectory.count ? i : 0;
      int selected = SelectEntry(index);
      if (LastViewPlacement() != static_cast<int64_t>(gDirectory.entries[index].recordOffset)) {
        result = kCatalogueBadEndRecord;
      } else if (selected != UNZ_OK) {
        result = kCatalogueBadRecord;
      }
    }
    if (result != kCatalogueOk) {
      CloseArchive();
      FreeCentralDirectory(&gDirectory);
      return result;
    }
  }
  gOpen = 1;
  free(gPath);
  gPath = CopyToCString(path);
  gCurrent = 0;
  return kCatalogueOk;
}

intptr_t OpenArchiveForReading(const Text& path) {
  if (OpenArchiveChecked(path, kStubSearchBytes) != kCatalogueOk) return 0;
  // A handle for callers that test it: nonzero also without entries.
  return gHandle != nullptr ? reinterpret_cast<intptr_t>(gHandle)
                            : reinterpret_cast<intptr_t>(&gDirectory);
}

int GetArchiveInfo(ArchiveGlobalInfo* info) {
  if (!gOpen) return kReaderFailed;
  if (info == nullptr) return UNZ_PARAMERROR;
  info->entryCount = static_cast<uint32_t>(gDirectory.count);
  info->commentBytes = gDirectory.commentBytes;
  return kReaderOk;
}

int GoToFirstEntry() {
  if (!gOpen) return kReaderFailed;
  if (gDirectory.count == 0) return kReaderEndOfEntries;
  return SelectEntry(0);
}

int GoToNextEntry() {
  if (!gOpen) return kReaderFailed;
  // At the last entry it stays current.
  if (gCurrent + 1 >= gDirectory.count) return kReaderEndOfEntries;
  return SelectEntry(gCurrent + 1);
}

int CloseArchive() {
  if (gHandle != nullptr) {
    unzClose(gHandle);
    gHandle = nullptr;
  }
  if (gOpen) FreeCentralDirectory(&gDirectory);
  gOpen = 0;
  gCurrent = 0;
  return 0;
}

void RemovePartFileInProgress() {
  if (gPartActive && gPartInProgress != nullptr) RemoveFile(Text(gPartInProgress));
}

namespace {

const uint16_t kFlagUtf8Name = 0x0800;
const uint16_t kUnicodePathId = 0x7075;
const uint32_t kDosDirectoryAttribute = 0x10;
const int kHostMsDos = 0;
const int kHostNtfs = 11;

// The name a Unicode Path extra field (0x7075) gives, when the field holds
// the CRC of the central name it stands for; else the empty text. A field
// whose CRC does not match was written for another name and is ignored.
Text UnicodePathName(const unsigned char* extra, int extraBytes, const Text& centralName) {
  for (int at = 0; at + 4 <= extraBytes;) {
    int id = LittleEndian16(extra + at);
    int length = LittleEndian16(extra + at + 2);
    if (at + 4 + length > extraBytes) break;
    const unsigned char* field = extra + at + 4;
    if (id == kUnicodePathId && length > 5 && field[0] == 1) {
      uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(centralName.c_str()),
                        static_cast<uInt>(centralName.Length()));
      if (LittleEndian32(field + 1) != static_cast<uint32_t>(crc)) return Text();
      return Text(reinterpret_cast<const char*>(field + 5), length - 5);
    }
    at += 4 + length;
  }
  return Text();
}

// The facts of the current entry that extraction needs beyond minizip's.
struct EntryFacts {
  unz_file_info64 info;
  Text name;  // the central name, or the Unicode Path field's
  int utf8Name;
  int isFolder;    // a name ending in a separator, or the directory attribute
  int sizesAgree;  // minizip read the same sizes as the checked directory
};

// Reads the current entry's information, its whole name and its extra field.
// The name is asked for with a buffer of its own stored length, so no name
// is ever cut. minizip's view of the record must agree with the checked
// directory's.
int ReadEntryInfo(EntryFacts* facts) {
  const CatalogueEntry* entry = CurrentEntry();
  if (entry == nullptr || gHandle == nullptr) return kReaderFailed;
  unz_file_info64* info = &facts->info;
  // The name and extra field are asked for with buffers of their checked
  // lengths, so no name is ever cut.
  int nameBytes = entry->nameBytes;
  int extraBytes = entry->extraBytes;
  char* buffer = static_cast<char*>(AllocateBlock(nameBytes + extraBytes + 2));
  if (buffer == nullptr) return kReaderFailed;
  char* extra = buffer + nameBytes + 1;
  int result = unzGetCurrentFileInfo64(gHandle, info, buffer, nameBytes + 1, extra, extraBytes + 1,
                                       nullptr, 0);
  // minizip's view of the record must agree with the checked directory's.
  if (result == UNZ_OK &&
      (info->crc != entry->crc || info->compression_method != entry->method ||
       info->size_filename != entry->nameBytes || info->size_file_extra != entry->extraBytes)) {
    result = kReaderDamagedEntry;
  }
  if (result == UNZ_OK) {
    // The checked directory's sizes count: some builds of minizip miss the
    // Zip64 extra field, and then read such an entry wrongly.
    facts->sizesAgree =
        info->uncompressed_size == entry->size && info->compressed_size == entry->compressedSize;
    info->uncompressed_size = entry->size;
    info->compressed_size = entry->compressedSize;
    Text central(buffer, nameBytes);
    Text unicode =
        UnicodePathName(reinterpret_cast<const unsigned char*>(extra), extraBytes, central);
    facts->name = unicode.IsEmpty() ? central : unicode;
    facts->utf8Name = !unicode.IsEmpty() || (entry->flags & kFlagUtf8Name) != 0;
    char last = facts->name.Last();
    int host = entry->versionMadeBy >> 8;
    facts->isFolder = facts->name.IsEmpty() || last == '/' || last == '\\' ||
                      ((entry->externalAttributes & kDosDirectoryAttribute) != 0 &&
                       (host == kHostMsDos || host == kHostNtfs));
  }
  FreeBlock(buffer);
  return result;
}

// Whether the current entry's data may be read at all: only stored and
// deflated data, never encrypted, and a stored entry holds its size.
int CheckEntryData(const CatalogueEntry& entry) {
  if (entry.flags & kFlagEncrypted) return kReaderEncrypted;
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
    return kReaderUnsupportedMethod;
  }
  if (entry.method == kMethodStored && entry.compressedSize != entry.size) {
    return kReaderDamagedEntry;
  }
  return kReaderOk;
}

// Where the current entry's data comes from: minizip, or, when minizip
// refuses an entry whose local header disagrees with its central record in
// ways other readers accept (another name length, say), the bytes at the
// data offset that the local header's own lengths give, inflated here.
struct DataSource {
  int direct;
  intptr_t file;  // a plain file
  z_stream stream;
  int inflating;  // stream initialised
  uint64_t compressedLeft;
  uint64_t sizeLeft;
  unsigned char* input;  // kInflateChunkBytes
};

void CloseSource(DataSource* source) {
  if (!source->direct) {
    unzCloseCurrentFile(gHandle);
    return;
  }
  if (source->inflating) inflateEnd(&source->stream);
  ClosePlainFile(source->file);
  FreeBlock(source->input);
  source->file = 0;
  source->input = nullptr;
  source->inflating = 0;
}

int OpenDirect(const CatalogueEntry& entry, DataSource* source) {
  source->direct = 1;
  source->compressedLeft = entry.compressedSize;
  source->sizeLeft = entry.size;
  source->file = gPath != nullptr ? OpenPlainFileForReading(Text(gPath)) : 0;
  source->input = static_cast<unsigned char*>(AllocateBlock(kInflateChunkBytes));
  if (source->file == 0 || source->input == nullptr ||
      !SeekPlainFile(source->file,
                     gDirectory.archiveStart + static_cast<int64_t>(entry.dataOffset))) {
    CloseSource(source);
    return kReaderFailed;
  }
  if (entry.method == kMethodDeflated) {
    memset(&source->stream, 0, sizeof(source->stream));
    if (inflateInit2(&source->stream, -MAX_WBITS) != Z_OK) {
      CloseSource(source);
      return Z_MEM_ERROR;
    }
    source->inflating = 1;
  }
  return kReaderOk;
}

// Reads up to length bytes of the entry's data: the count, 0 at its end, or
// a negative code. Never more than the declared size.
int ReadSource(DataSource* source, char* out, int length) {
  if (!source->direct) return unzReadCurrentFile(gHandle, out, static_cast<unsigned>(length));
  if (static_cast<uint64_t>(length) > source->sizeLeft) length = static_cast<int>(source->sizeLeft);
  if (length == 0) return 0;
  if (!source->inflating) {
    int32_t got = ReadPlainFile(source->file, out, length);
    source->sizeLeft -= static_cast<uint64_t>(got);
    return got;
  }
  z_stream* z = &source->stream;
  z->next_out = reinterpret_cast<Bytef*>(out);
  z->avail_out = static_cast<uInt>(length);
  while (z->avail_out > 0) {
    if (z->avail_in == 0 && source->compressedLeft > 0) {
      int32_t want = source->compressedLeft < static_cast<uint64_t>(kInflateChunkBytes)
                         ? static_cast<int32_t>(source->compressedLeft)
                         : kInflateChunkBytes;
      int32_t got = ReadPlainFile(source->file, source->input, want);
      if (got == 0) return kReaderFailed;
      source->compressedLeft -= got;
      z->next_in = source->input;
      z->avail_in = static_cast<uInt>(got);
    }
    int status = inflate(z, Z_NO_FLUSH);
    if (status == Z_STREAM_END) break;
    if (status != Z_OK) return status == Z_BUF_ERROR ? Z_DATA_ERROR : status;
  }
  int got = length - static_cast<int>(z->avail_out);
  source->sizeLeft -= static_cast<uint64_t>(got);
  return got;
}

// Opens the data of the current entry, whose facts were read. On success the
// source is open and must be closed with CloseSource.
int OpenEntryData(const EntryFacts& facts, DataSource* source) {
  memset(source, 0, sizeof(*source));
  const CatalogueEntry& entry = *CurrentEntry();
  int result = CheckEntryData(entry);
  if (result != kReaderOk) return result;
  if (!facts.sizesAgree) return OpenDirect(entry, source);
  result = unzOpenCurrentFile(gHandle);
  if (result == UNZ_BADZIPFILE) return OpenDirect(entry, source);
  return result;
}

// Inflates the open entry chunk by chunk into the file numbered output
// (kAnyNumber: write nothing), or into memory when that is not null (size
// bytes), then closes it. The entry must yield exactly its declared size,
// and its CRC must match, whatever the method.
int InflateEntry(DataSource* source, intptr_t output, uint64_t size, uint32_t crc,
                 unsigned char* memory = nullptr) {
  char* chunk = static_cast<char*>(AllocateBlock(kInflateChunkBytes));
  if (chunk == nullptr) {
    CloseSource(source);
    return kReaderFailed;
  }
  int result = kReaderOk;
  uint64_t total = 0;
  uLong sum = crc32(0L, Z_NULL, 0);
  for (;;) {
    int got = ReadSource(source, chunk, kInflateChunkBytes);
    if (got < 0) {
      result = got;  // read error or damaged deflate data
      break;
    }
    if (got == 0) break;
    sum = crc32(sum, reinterpret_cast<const Bytef*>(chunk), static_cast<uInt>(got));
    if (memory != nullptr) {
      if (total + static_cast<uint64_t>(got) > size) {
        result = kReaderDamagedEntry;  // more than declared
        break;
      }
      memcpy(memory + total, chunk, static_cast<size_t>(got));
    }
    if (output != kAnyNumber && WriteBytes(output, chunk, got) != got) {
      result = kReaderWriteFailed;
      break;
    }
    total += static_cast<uint64_t>(got);
  }
  FreeBlock(chunk);
  // A non-empty entry that yields nothing has no data at all.
  if (result == kReaderOk && total == 0 && size > 0) result = kReaderFailed;
  if (result == kReaderOk && total != size) result = kReaderDataShort;
  // Our own sum: the check holds on every path, whatever minizip does.
  if (result == kReaderOk && static_cast<uint32_t>(sum) != crc) result = kReaderCrcMismatch;
  if (!source->direct) {
    int closed = unzCloseCurrentFile(gHandle);
    if (result == kReaderOk && closed != UNZ_OK) result = closed;
  } else {
    CloseSource(source);
  }
  return result;
}

}  // namespace

int GetCurrentEntryInfo(ArchiveEntryInfo* info) {
  if (!gOpen) return kReaderFailed;
  if (info == nullptr) return UNZ_PARAMERROR;
  EntryFacts facts;
  int result = ReadEntryInfo(&facts);
  if (result != UNZ_OK) return result;
  info->name = facts.name;
  info->size = facts.info.uncompressed_size;
  info->compressedSize = facts.info.compressed_size;
  info->crc = static_cast<uint32_t>(facts.info.crc);
  info->time.year = static_cast<int>(facts.info.tmu_date.tm_year);
  info->time.month = static_cast<int>(facts.info.tmu_date.tm_mon) + 1;
  info->time.day = static_cast<int>(facts.info.tmu_date.tm_mday);
  info->time.hour = static_cast<int>(facts.info.tmu_date.tm_hour);
  info->time.minute = static_cast<int>(facts.info.tmu_date.tm_min);
  info->time.second = static_cast<int>(facts.info.tmu_date.tm_sec);
  info->isFolder = facts.isFolder;
  info->utf8Name = facts.utf8Name;
  return UNZ_OK;
}

int TestCurrentEntry() {
  if (!gOpen) return kReaderFailed;
  if (CurrentEntry() == nullptr) return kReaderEndOfEntries;
  EntryFacts facts;
  DataSource source;
  int result = ReadEntryInfo(&facts);
  if (result == UNZ_OK) result = OpenEntryData(facts, &source);
  if (result != UNZ_OK) return result;
  return InflateEntry(&source, kAnyNumber, facts.info.uncompressed_size,
                      static_cast<uint32_t>(facts.info.crc));
}

int SetFileModificationTime(const Text& path, int year, int month, int day, int hour, int minute) {
  // A DOS date covers 1980..2107; anything else, or a day that the month
  // does not have, is a damaged date, and the file keeps its write time.
  if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59) {
    return 0;
  }
  if (day > DaysInMonth(year, month)) return 0;
  LocalTimeFields fields;
  fields.year = year;
  fields.month = month;
  fields.day = day;
  fields.hour = hour;
  fields.minute = minute;
  fields.second = 0;  // stored seconds are not used
  return SetFileWriteTime(path, fields);
}

namespace {

// Turns the "\" of a relative name into the platform's separator.
Text PlatformPath(const Text& name) {
  Text path;
  for (int i = 0; i < name.Length(); ++i) {
    char c = name.At(i);
    path += c == '\\' ? kPathSeparator : c;
  }
  return path;
}

// Makes the folders of relative (a name's folder part in the platform's
// form, the separator between and after its components) below folder, the
// destination ending in the separator. One at a time, each checked: a link
// among them would carry the entry's data out of the destination, and a file
// among them is in the way.
int MakeFoldersBelow(const Text& folder, const Text& relative) {
  Text path = folder;
  for (int i = 0; i < relative.Length(); ++i) {
    char c = relative.At(i);
    if (c != kPathSeparator) {
      path += c;
      continue;
    }
    int kind = OwnPathKind(path);
    if (kind == kPathNothing) {
      Text withSeparator = path;
      withSeparator += kPathSeparator;
      MakePath(withSeparator);
      kind = OwnPathKind(path);
    }
    if (kind == kPathLink) return kReaderLinkInPath;
    if (kind == kPathNothing) return kReaderFailed;  // could not be made
    if (kind != kPathFolder) return kReaderNotAFolder;
    path += kPathSeparator;
  }
  return kReaderOk;
}

// Announces name as the file in progress, for RemovePartFileInProgress.
// 0 when the block for the name cannot be had.
int AnnouncePart(const Text& name) {
  if (gPartInProgress == nullptr) {
    gPartInProgress = static_cast<char*>(AllocateBlock(kPartNameBytes));
    if (gPartInProgress == nullptr) return 0;
  }
  if (name.Length() >= kPartNameBytes) return 0;
  memcpy(gPartInProgress, name.c_str(), name.Length() + 1);
  gPartActive = 1;
  return 1;
}

// The marks of the part file names, "~" and one of them, tried in order.
const char kPartMarks[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// The folder of target, up to its last separator.
Text FolderOfTarget(const Text& target) {
  // A destination typed with a final "/" is a folder on Windows too: the
  // part file belongs there, not in a folder above it or the working folder.
  int slash = target.LastIndexOf(kPathSeparator);
  if (target.LastIndexOf('/') > slash) slash = target.LastIndexOf('/');
  return target.Middle(0, slash + 1);
}

// Creates a part file beside target, exclusively, under the target's folder
// plus "~" and one letter or digit: short, so that it fits wherever the
// target fits, and never the target's own name (an entry "~0") as Windows
// matches names, case ignored and trailing dots and spaces dropped. The
// file's number, with its name in part; 0 when no name is free.
intptr_t CreatePartFile(const Text& target, Text* part) {
  Text folder = FolderOfTarget(target);
  int slash = folder.Length() - 1;
  int ownBytes = target.Length() - slash - 1;
  for (char c; ownBytes > 0 && ((c = target.At(slash + ownBytes)) == '.' || c == ' ');) {
    --ownBytes;
  }
  for (int i = 0; kPartMarks[i] != 0; ++i) {
    if (ownBytes == 2 && target.At(slash + 1) == '~' &&
        tolower(static_cast<unsigned char>(target.At(slash + 2))) == kPartMarks[i]) {
      continue;
    }
    Text candidate = folder + "~";
    candidate += kPartMarks[i];
    if (candidate.Length() >= kPartNameBytes) break;
    // Announced before it exists, so that an end of the program in between
    // still removes it.
    if (!AnnouncePart(candidate)) return 0;
    intptr_t output = CreateNewFileForWriting(kAnyNumber, candidate);
    if (output != 0) {
      *part = candidate;
      return output;
    }
    gPartActive = 0;
  }
  return 0;
}

// Writes the target in place from the finished part file: the way out when
// the target cannot be replaced by name. Never through a link, and never
// into a file that has another name too: a hard link planted in the
// destination would carry the bytes to a file outside it.
int CopyOverTarget(const Text& part, const Text& target) {
  if (IsLinkPath(target)) return kReaderLinkInPath;
  intptr_t source = OpenFileForReading(kAnyNumber, part);
  if (source == 0) return kReaderFailed;
  intptr_t output = OpenFileForOverwriting(kAnyNumber, target);
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

// Writes the open entry to target. A target that does not exist yet is
// created exclusively under its own name and written directly, and removed
// again unless the entry comes out whole: nothing was there to lose, and
// the part file's rename is spared. A target that exists is replaced only
// by a whole entry, through a part file beside it.
int WriteEntryFile(DataSource* source, const Text& target, uint64_t size, uint32_t crc) {
  intptr_t direct = CreateNewFileForWriting(kAnyNumber, target);
  if (direct != 0) {
    // Announced once it is ours: an end of the program before that moment
    // leaves an empty file, but never removes one that was there before.
    int result = kReaderFailed;
    if (AnnouncePart(target)) {
      result = InflateEntry(source, direct, size, crc);
    } else {
      CloseSource(source);
    }
    CloseFileNumber(direct);
    if (result == kReaderOk && PathSize(target) != static_cast<int64_t>(size)) {
      result = kReaderWriteFailed;
    }
    if (result != kReaderOk) RemoveFile(target);
    gPartActive = 0;
    return result;
  }
  Text part;
  intptr_t output = CreatePartFile(target, &part);
  if (output == 0) {
    CloseSource(source);
    return kReaderFailed;  // output file not created
  }
  int result = InflateEntry(source, output, size, crc);
  CloseFileNumber(output);
  // Every byte must have reached the disk, the last buffer flushed by the
  // close, before the part may count as whole.
  if (result == kReaderOk && PathSize(part) != static_cast<int64_t>(size)) {
    result = kReaderWriteFailed;
  }
  // A link planted as the target while the entry was inflated is refused
  // too: the in-place copy would write through it.
  if (result == kReaderOk && IsLinkPath(target)) result = kReaderLinkInPath;
  int renamed = result == kReaderOk && ReplaceFileWith(target, part);
  if (result == kReaderOk && !renamed) result = CopyOverTarget(part, target);
  // Gone in every case: renamed onto the target, copied, or not good enough.
  if (!renamed) RemoveFile(part);
  gPartActive = 0;
  return result;
}

}  // namespace

namespace {

// What ExtractCurrentEntry does; with handOff not null, also what
// ExtractOrHandOffCurrentEntry does.
struct HandOff {
  int64_t memoryLimit;
  TargetCheck check;
  void* context;
  HandedOffFile* file;
  int* handedOff;
};

// Whether a file handed off and not yet written could take one of the
// names that CreatePartFile tries beside target.
int PartNameInFlight(const HandOff* handOff, const Text& target) {
  Text folder = FolderOfTarget(target);
  for (int i = 0; kPartMarks[i] != 0; ++i) {
    Text candidate = folder + "~";
    candidate += kPartMarks[i];
    if (handOff->check(handOff->context, candidate)) return 1;
  }
  return 0;
}

int ExtractEntry(const Text& destination, int keepFolders, const HandOff* handOff) {
  if (!gOpen) return kReaderFailed;
  Text folder = destination;
  if (folder.Last() != '\\' && folder.Last() != '/') folder += '\\';
  folder = PlatformPath(folder);
  // For every entry, result ignored; one look when it is there already.
  if (PathSize(folder) != -2) MakePath(folder);
  if (CurrentEntry() == nullptr) return kReaderEndOfEntries;

  EntryFacts facts;
  int result = ReadEntryInfo(&facts);
  if (result != UNZ_OK) return result;
  Text name = CleanEntryName(facts.name);
  uint64_t size = facts.info.uncompressed_size;
  uint32_t crc = static_cast<uint32_t>(facts.info.crc);

  // A folder entry: a name that ends in "\" (or the empty name of the packed
  // folder itself), or one marked by the MS-DOS directory attribute. Any
  // other entry is a file, also one of size 0.
  int isFolder = facts.isFolder || name.IsEmpty() || name.Last() == '\\';
  if (isFolder) {
    result = CheckEntryData(*CurrentEntry());
    if (result != kReaderOk) return result;
    if (keepFolders != 1) return kReaderOk;
    name = DropDrivePrefix(name);
    if (!name.IsEmpty() && name.Last() != '\\') name += '\\';
  } else {
    name = keepFolders == 0 ? FilePartOf(name) : DropDrivePrefix(name);
  }
  if (!IsSafeEntryName(name)) return kReaderUnsafeName;
  // A flagged name must be UTF-8; it is then created through the system's
  // wide functions, an unflagged one as its code page has it.
  if (facts.utf8Name && !IsUtf8Text(name)) return kReaderBadName;
  if (!isFolder && FilePartOf(name).IsEmpty()) return kReaderFailed;  // nothing to create
  Text base;
  Text target = LandingPath(folder, name, facts.utf8Name, &base);
  if (target.IsEmpty()) return kReaderNameTooLong;
  Text landed = target.Middle(base.Length(), target.Length() - base.Length());
  if (handOff != nullptr && handOff->check(handOff->context, target)) return kReaderWritersFirst;
  if (isFolder) return MakeFoldersBelow(base, landed);
  // With hand-offs, a file that is there already is replaced through a
  // part file beside it, made on this thread: files handed off under the
  // names it may take are written first.
  int64_t existing = handOff != nullptr ? PathSize(target) : 0;
  if (existing != -1 && handOff != nullptr && PartNameInFlight(handOff, target)) {
    return kReaderWritersFirst;
  }
  if (keepFolders != 0) {
    int slash = landed.LastIndexOf(kPathSeparator);
    result = MakeFoldersBelow(base, landed.Middle(0, slash + 1));
    if (result != kReaderOk) return result;
  }
  DataSource source;
  result = OpenEntryData(facts, &source);
  if (result != UNZ_OK) return result;
  const tm_unz& when = facts.info.tmu_date;
  if (handOff != nullptr && size <= static_cast<uint64_t>(handOff->memoryLimit) &&
      existing == -1) {
    unsigned char* data = nullptr;
    if (size > 0) data = static_cast<unsigned char*>(AllocateBlock(static_cast<int64_t>(size)));
    if (size == 0 || data != nullptr) {
      result = InflateEntry(&source, kAnyNumber, size, crc, data);
      if (result != kReaderOk) {
        FreeBlock(data);
        return result;
      }
      HandedOffFile* file = handOff->file;
      file->target = target;
      file->data = data;
      file->size = static_cast<int64_t>(size);
      file->year = static_cast<int>(when.tm_year);
      file->month = static_cast<int>(when.tm_mon) + 1;
      file->day = static_cast<int>(when.tm_mday);
      file->hour = static_cast<int>(when.tm_hour);
      file->minute = static_cast<int>(when.tm_min);
      *handOff->handedOff = 1;
      return kReaderOk;
    }
    // No memory for it: written here after all.
  }
  result = WriteEntryFile(&source, target, size, crc);
  if (result != kReaderOk) return result;
  SetFileModificationTime(target, static_cast<int>(when.tm_year), static_cast<int>(when.tm_mon) + 1,
                          static_cast<int>(when.tm_mday), static_cast<int>(when.tm_hour),
                          static_cast<int>(when.tm_min));
  return kReaderOk;
}

}  // namespace

int ExtractCurrentEntry(const Text& destination, int keepFolders) {
  return ExtractEntry(destination, keepFolders, nullptr);
}

int ExtractOrHandOffCurrentEntry(const Text& destination, int64_t memoryLimit, TargetCheck check,
                                 void* context, HandedOffFile* file, int* handedOff) {
  *handedOff = 0;
  HandOff handOff = {memoryLimit, check, context, file, handedOff};
  return ExtractEntry(destination, 1, &handOff);
}

int WriteHandedOffFile(HandedOffFile* file) {
  int result = kReaderFailed;
  intptr_t output = CreateNewPlainFile(file->target);
  if (output != 0) {
    int64_t written = 0;
    while (written < file->size) {
      int64_t left = file->size - written;
      int32_t step = left < kInflateChunkBytes ? static_cast<int32_t>(left) : kInflateChunkBytes;
      if (WritePlainFile(output, file->data + written, step) != step) break;
      written += step;
    }
    ClosePlainFile(output);
    result = written == file->size && PathSize(file->target) == file->size ? kReaderOk
                                                                           : kReaderWriteFailed;
    if (result != kReaderOk) RemoveFile(file->target);
  }
  FreeBlock(file->data);
  file->data = nullptr;
  if (result == kReaderOk) {
    SetFileModificationTime(file->target, file->year, file->month, file->day, file->hour,
                            file->minute);
  }
  return result;
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
    case kReaderUnsupportedMethod:
      return "compression method not supported (only stored and deflated)";
    case kReaderEncrypted: return "encrypted entry (not supported)";
    case kReaderLinkInPath: return "a link is in the way (nothing is written through links)";
    case kReaderNotAFolder: return "a file is in the way of a folder";
    case kReaderDamagedEntry: return "damaged entry";
    case kReaderBadName: return "name flagged as UTF-8 is not valid UTF-8";
    case kReaderWritersFirst: return "earlier files must be written first";
    case kCatalogueNoArchive: return "no archive found";
    case kCatalogueBadEndRecord: return "damaged archive (end record)";
    case kCatalogueBadRecord: return "damaged archive (central directory record)";
    case kCatalogueCountMismatch:
      return "damaged archive (entry count does not match the central directory)";
    case kCatalogueBadLocalHeader: return "damaged archive (local header missing or out of place)";
    case kCatalogueOverlap: return "damaged archive (entries overlap)";
    case kCatalogueNoMemory: return "out of memory";
    case kCatalogueUnreadable: return "the file cannot be read";
    case Z_DATA_ERROR: return "damaged compressed data";
    case Z_MEM_ERROR: return "out of memory";
    default: return Text("error ") + DecimalText(result);
  }
}
