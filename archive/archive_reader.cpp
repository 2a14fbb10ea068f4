// The archive reader over minizip's reading functions. It owns the reader
// state (the one open archive and its checked central directory); the
// extraction thread is its only user. minizip reads the archive through a
// view of the file (archive_view.h); entries whose local header minizip
// refuses are read through the C library's streams and zlib; files reach
// the disk through the runtime's file services.
#include "archive/archive_reader.h"

#include <stdlib.h>
#include <string.h>
#include <unzip.h>

#include "archive/archive_view.h"
#include "archive/entry_name.h"
#include "archive/output_layout.h"
#include "archive/part_file.h"
#include "runtime/date.h"
#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/file_replace.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"
#include "runtime/name_encoding.h"
#include "runtime/system.h"

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

// The system's reason for the current entry's failure, for
// LastEntrySystemError; 0 when it had none.
int32_t gEntrySystemError = 0;

// Keeps the system's reason for the failure at hand.
void NoteSystemError() { gEntrySystemError = LastSystemError(); }

// SetLeftPartSweep's procedure; null: none.
LeftPartSweep gLeftPartSweep = nullptr;

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
  // A new run: part files may be made again, and every folder it lands
  // files in is looked through for those that ended runs left.
  AllowPartFiles();
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

uint64_t ArchiveDataBytes() {
  if (!gOpen) return 0;
  uint64_t bytes = 0;
  for (int64_t i = 0; i < gDirectory.count; ++i) bytes += gDirectory.entries[i].size;
  return bytes;
}

uint64_t EntryDataBytes(int64_t index) {
  if (!gOpen || index < 0 || index >= gDirectory.count) return 0;
  return gDirectory.entries[index].size;
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
  ForgetLookedFolders();
  return 0;
}

void RemovePartFileInProgress() { RemovePartFilesInFlight(); }

int32_t LastEntrySystemError() { return gEntrySystemError; }

void SetLeftPartSweep(LeftPartSweep sweep) { gLeftPartSweep = sweep; }

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
  int isFolder;      // see ArchiveEntryInfo
  int holdsNothing;  // HoldsNothing, for an entry that may be a folder; else 0
  int sizesAgree;    // minizip read the same sizes as the checked directory
};

// The bytes of the empty deflate stream: one final block of fixed codes
// that holds only its end code.
const unsigned char kEmptyDeflateStream[] = {0x03, 0x00};

// Whether an entry holds nothing at all: size 0, and a compressed stream
// that is empty or, deflated, the two bytes of the empty stream, read from
// the archive where the checked directory puts them.
int HoldsNothing(const CatalogueEntry& entry) {
  if (entry.size != 0) return 0;
  if (entry.compressedSize == 0) return 1;
  if (entry.method != kMethodDeflated || entry.compressedSize != sizeof kEmptyDeflateStream ||
      gPath == nullptr) {
    return 0;
  }
  unsigned char bytes[sizeof kEmptyDeflateStream] = {0xFF, 0xFF};
  intptr_t file = OpenPlainFileForReading(Text(gPath));
  int read = file != 0 &&
             SeekPlainFile(file, gDirectory.archiveStart + static_cast<int64_t>(entry.dataOffset)) &&
             ReadPlainFile(file, bytes, sizeof bytes) == static_cast<int32_t>(sizeof bytes);
  ClosePlainFile(file);
  return read && memcmp(bytes, kEmptyDeflateStream, sizeof bytes) == 0;
}

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
    // A folder: a name that ends in a separator once cleaned, whatever it
    // holds (one that holds something fails); an empty name, the packed
    // folder itself, or one with the MS-DOS directory attribute, as long as
    // it holds nothing (with data, such an entry is a file).
    Text cleaned = CleanEntryName(facts->name);
    int host = entry->versionMadeBy >> 8;
    int marked = (entry->externalAttributes & kDosDirectoryAttribute) != 0 &&
                 (host == kHostMsDos || host == kHostNtfs);
    int named = cleaned.Last() == '\\';
    // Looked at only where it decides: it may read the archive.
    facts->holdsNothing = (named || cleaned.IsEmpty() || marked) && HoldsNothing(*entry);
    facts->isFolder = named || ((cleaned.IsEmpty() || marked) && facts->holdsNothing);
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
  int ownsFile;   // file is closed with the source
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
  if (source->ownsFile) ClosePlainFile(source->file);
  FreeBlock(source->input);
  source->file = 0;
  source->input = nullptr;
  source->inflating = 0;
}

// A direct source over the plain file archive (closed with the source when
// ownsFile is nonzero): compressedSize bytes at start, stored or deflated,
// giving size bytes.
int OpenDirectAt(intptr_t archive, int ownsFile, int64_t start, uint64_t compressedSize,
                 uint64_t size, int method, DataSource* source) {
  memset(source, 0, sizeof(*source));
  source->direct = 1;
  source->file = archive;
  source->ownsFile = ownsFile;
  source->compressedLeft = compressedSize;
  source->sizeLeft = size;
  source->input = static_cast<unsigned char*>(AllocateBlock(kInflateChunkBytes));
  if (source->file == 0 || source->input == nullptr || !SeekPlainFile(source->file, start)) {
    CloseSource(source);
    return kReaderFailed;
  }
  if (method == kMethodDeflated) {
    if (inflateInit2(&source->stream, -MAX_WBITS) != Z_OK) {
      CloseSource(source);
      return Z_MEM_ERROR;
    }
    source->inflating = 1;
  }
  return kReaderOk;
}

int OpenDirect(const CatalogueEntry& entry, DataSource* source) {
  intptr_t archive = gPath != nullptr ? OpenPlainFileForReading(Text(gPath)) : 0;
  return OpenDirectAt(archive, 1, gDirectory.archiveStart + static_cast<int64_t>(entry.dataOffset),
                      entry.compressedSize, entry.size, entry.method, source);
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

// Inflates the open entry chunk by chunk into the plain file output (0:
// write nothing), then closes it. The entry must yield exactly its declared
// size, and its CRC must match, whatever the method. A failed write leaves
// the system's reason in *systemError.
int InflateEntry(DataSource* source, intptr_t output, uint64_t size, uint32_t crc,
                 int32_t* systemError) {
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
    if (output != 0 && WritePlainFile(output, chunk, got) != got) {
      *systemError = LastSystemError();
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

namespace {

// What the current entry is and where it goes below any destination, as
// test and unpack both judge it.
struct EntryPlan {
  EntryFacts facts;
  Text name;  // cleaned, without a drive prefix; a folder's ends in "\", the root's is empty
  int isFolder;
};

// Reads the current entry and checks what holds whatever the destination,
// in the same order for test and unpack, so that both give every entry the
// same verdict: a folder holds nothing; the name stays below the
// destination, is UTF-8 where flagged so, and names a file where it is no
// folder; the data is stored or deflated, unencrypted, and a stored entry
// holds its size. keepFolders as for ExtractCurrentEntry. 0, or the first
// failure.
int PlanEntry(int keepFolders, EntryPlan* plan) {
  EntryFacts* facts = &plan->facts;
  int result = ReadEntryInfo(facts);
  if (result != UNZ_OK) return result;
  Text name = CleanEntryName(facts->name);
  plan->isFolder = facts->isFolder;
  // A name that ends in a separator, or the empty name of the root, is a
  // folder: its data would have nowhere to go.
  if ((name.IsEmpty() || name.Last() == '\\') && !facts->holdsNothing) {
    return kReaderFolderHoldsData;
  }
  if (plan->isFolder) {
    name = DropDrivePrefix(name);
    if (!name.IsEmpty() && name.Last() != '\\') name += '\\';
  } else {
    name = keepFolders == 0 ? FilePartOf(name) : DropDrivePrefix(name);
  }
  if (!IsSafeEntryName(name)) return kReaderUnsafeName;
  // A flagged name must be UTF-8; it is then created through the system's
  // wide functions, an unflagged one as its code page has it.
  if (facts->utf8Name && !IsUtf8Text(name)) return kReaderBadName;
  if (!plan->isFolder && FilePartOf(name).IsEmpty()) return kReaderFolderHoldsData;
  plan->name = name;
  return CheckEntryData(*CurrentEntry());
}

// Opens and inflates the current entry, writing nothing: its size and CRC
// must match.
int CheckPlannedData(const EntryPlan& plan) {
  DataSource source;
  int result = OpenEntryData(plan.facts, &source);
  if (result != UNZ_OK) return result;
  return InflateEntry(&source, 0, plan.facts.info.uncompressed_size,
                      static_cast<uint32_t>(plan.facts.info.crc), &gEntrySystemError);
}

}  // namespace

int TestCurrentEntry() {
  if (!gOpen) return kReaderFailed;
  if (CurrentEntry() == nullptr) return kReaderEndOfEntries;
  EntryPlan plan;
  int result = PlanEntry(1, &plan);
  if (result != kReaderOk) return result;
  return CheckPlannedData(plan);
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

// Makes the folders of relative (a name's folder part in the platform's
// form, the separator between and after its components) below folder, the
// destination ending in the separator. One at a time, each checked: a link
// among them would carry the entry's data out of the destination, and a file
// among them is in the way.
int MakeFoldersBelow(const Text& folder, const Text& relative) {
  Text path = folder;
  int start = 0;  // of the component not yet in path
  for (int i = 0; i < relative.Length(); ++i) {
    if (relative.At(i) != kPathSeparator) continue;
    path.Append(relative.c_str() + start, i - start);
    start = i + 1;
    int kind = OwnPathKind(path);
    if (kind == kPathNothing) {
      Text withSeparator = path;
      withSeparator += kPathSeparator;
      if (!MakePath(withSeparator)) NoteSystemError();
      kind = OwnPathKind(path);
    }
    if (kind == kPathLink) return kReaderLinkInPath;
    if (kind == kPathNothing) return kReaderFolderNotMade;
    if (kind != kPathFolder) return kReaderNotAFolder;
    path += kPathSeparator;
  }
  return kReaderOk;
}

// The folder of target, up to its last separator.
Text FolderOfTarget(const Text& target) {
  // A destination typed with a final "/" is a folder on Windows too: the
  // part file belongs there, not in a folder above it or the working folder.
  int slash = target.LastIndexOf(kPathSeparator);
  if (target.LastIndexOf('/') > slash) slash = target.LastIndexOf('/');
  return target.Middle(0, slash + 1);
}

// Writes the target in place from the finished part file: the way out when
// the target cannot be replaced by name. Never through a link, and never
// into a file that has another name too: a hard link planted in the
// destination would carry the bytes to a file outside it.
int CopyOverTarget(const Text& part, const Text& target, int32_t* systemError) {
  if (IsLinkPath(target)) return kReaderLinkInPath;
  intptr_t source = OpenFileForReading(kAnyNumber, part);
  if (source == 0) return kReaderFailed;
  intptr_t output = OpenFileForOverwriting(kAnyNumber, target);
  if (output == 0) {
    *systemError = LastSystemError();
    CloseFileNumber(source);
    return kReaderFailed;
  }
  int result = kReaderOk;
  char* chunk = static_cast<char*>(AllocateBlock(kInflateChunkBytes));
  if (chunk == nullptr) result = kReaderFailed;
  while (result == kReaderOk) {
    int32_t got = ReadBytes(source, chunk, kInflateChunkBytes);
    if (got <= 0) break;
    if (WriteBytes(output, chunk, got) != got) {
      *systemError = LastSystemError();
      result = kReaderWriteFailed;
    }
  }
  FreeBlock(chunk);
  CloseFileNumber(output);
  CloseFileNumber(source);
  return result;
}

// The stored date and time of an entry, for SetFileModificationTime.
struct StoredTime {
  int year, month, day, hour, minute;
};

StoredTime StoredTimeOf(const EntryFacts& facts) {
  const tm_unz& when = facts.info.tmu_date;
  StoredTime time = {static_cast<int>(when.tm_year), static_cast<int>(when.tm_mon) + 1,
                     static_cast<int>(when.tm_mday), static_cast<int>(when.tm_hour),
                     static_cast<int>(when.tm_min)};
  return time;
}

// Puts the finished part file at target, which held nothing when the entry
// was planned: never over anything that appeared under that name meanwhile.
// The part is gone afterwards in every case. 0, or kReaderTargetAppeared or
// kReaderCannotCreate (the name refused, say as too long) with *systemError
// set.
int PlaceNewFile(const Text& part, const Text& target, int32_t* systemError) {
  if (RenameWithoutReplacing(target, part)) return kReaderOk;
  *systemError = LastSystemError();
  int appeared = OwnPathKind(target) != kPathNothing;
  RemoveFile(part);
  return appeared ? kReaderTargetAppeared : kReaderCannotCreate;
}

// Writes the open entry to a new part file at partPattern (CreatePartFile,
// announced in partSlot) and, once it is whole with the right CRC and its
// write time set, puts it at target: under a free name when nothing was
// there (targetExists 0), else replacing what is there; when that cannot be
// replaced by name (read only, locked), it is written over in place. A part
// that is not whole is removed, and the target stays as it was. The
// system's reason for a failure goes to *systemError. Touches no reader
// state unless the source is minizip's.
int WriteEntryFile(DataSource* source, const Text& target, const Text& partPattern,
                   int targetExists, uint64_t size, uint32_t crc, const StoredTime& when,
                   int32_t partSlot, int32_t* systemError) {
  Text part;
  intptr_t output = CreatePartFile(partPattern, partSlot, &part, systemError);
  if (output == 0) {
    CloseSource(source);
    return kReaderCannotCreate;
  }
  int result = InflateEntry(source, output, size, crc, systemError);
  ClosePlainFile(output);
  // Every byte must have reached the disk before the part counts as whole.
  if (result == kReaderOk && PathSize(part) != static_cast<int64_t>(size)) {
    result = kReaderWriteFailed;
  }
  // The time goes with the file: under its real name it has its own.
  if (result == kReaderOk) {
    SetFileModificationTime(part, when.year, when.month, when.day, when.hour, when.minute);
  }
  int placed = 0;
  if (result == kReaderOk && !targetExists) {
    result = PlaceNewFile(part, target, systemError);
    placed = 1;  // renamed, or removed by PlaceNewFile
  } else if (result == kReaderOk) {
    // A link planted as the target while the entry was inflated is refused
    // too: the in-place copy would write through it.
    if (IsLinkPath(target)) {
      result = kReaderLinkInPath;
    } else if (ReplaceFileWith(target, part)) {
      placed = 1;
    } else {
      result = CopyOverTarget(part, target, systemError);
      if (result == kReaderOk) {
        SetFileModificationTime(target, when.year, when.month, when.day, when.hour, when.minute);
      }
    }
  }
  // Gone in every case: renamed onto the target, copied, or not good enough.
  if (!placed) RemoveFile(part);
  RetirePartFile(partSlot);
  return result;
}

// What ExtractCurrentEntry does; with handOff not null, also what
// ExtractOrHandOffCurrentEntry does.
struct HandOff {
  TargetCheck check;
  void* context;
  HandedOffFile* file;
  int* handedOff;
};

int ExtractEntry(const Text& destination, int keepFolders, const HandOff* handOff) {
  gEntrySystemError = 0;
  if (!gOpen) return kReaderFailed;
  // The destination as given, with the platform's separator added unless
  // it ends in one or in "/". (On POSIX a "\" may be part of a name there:
  // file.h, SetNativePaths.)
  Text folder = destination;
  if (folder.Last() != kPathSeparator && folder.Last() != '/') folder += kPathSeparator;
  // For every entry, result ignored; one look when it is there already.
  if (PathSize(folder) != -2) MakePath(folder);
  if (CurrentEntry() == nullptr) return kReaderEndOfEntries;

  EntryPlan plan;
  int result = PlanEntry(keepFolders, &plan);
  if (result != kReaderOk) return result;
  const EntryFacts& facts = plan.facts;
  if (plan.isFolder && keepFolders != 1) return CheckPlannedData(plan);
  Text base;
  Text target = LandingPath(folder, plan.name, facts.utf8Name, &base);
  if (target.IsEmpty()) return kReaderNameTooLong;
  Text landed = target.Middle(base.Length(), target.Length() - base.Length());
  if (handOff != nullptr && handOff->check(handOff->context, target)) return kReaderWritersFirst;
  if (plan.isFolder) {
    result = CheckPlannedData(plan);
    return result != kReaderOk ? result : MakeFoldersBelow(base, landed);
  }
  // The part file goes into the target's folder as the target does, so
  // that it fits wherever a name of its length fits there.
  Text partBase;
  Text partPattern =
      LandingPath(folder, FolderPartOf(plan.name) + PartNamePattern(), facts.utf8Name, &partBase);
  if (partPattern.IsEmpty()) return kReaderNameTooLong;
  if (keepFolders != 0) {
    int slash = landed.LastIndexOf(kPathSeparator);
    result = MakeFoldersBelow(base, landed.Middle(0, slash + 1));
    if (result != kReaderOk) return result;
  }
  int targetKind = OwnPathKind(target);
  if (targetKind == kPathLink) return kReaderLinkInPath;  // looked at again before it is replaced
  if (targetKind == kPathFolder) return kReaderCannotCreate;
  // What ended runs left in this folder goes before the first file of this
  // run lands in it.
  if (gLeftPartSweep != nullptr) gLeftPartSweep(FolderOfTarget(target));
  uint64_t size = facts.info.uncompressed_size;
  uint32_t crc = static_cast<uint32_t>(facts.info.crc);
  StoredTime when = StoredTimeOf(facts);
  if (handOff != nullptr && targetKind == kPathNothing) {
    // Read, inflated and checked by a writer thread from the archive's own
    // file: the data the catalogue placed, as the direct source reads it.
    const CatalogueEntry& entry = *CurrentEntry();
    result = CheckEntryData(entry);
    if (result != kReaderOk) return result;
    HandedOffFile* file = handOff->file;
    file->target = target;
    file->partPattern = partPattern;
    file->dataStart = gDirectory.archiveStart + static_cast<int64_t>(entry.dataOffset);
    file->compressedSize = entry.compressedSize;
    file->size = size;
    file->method = entry.method;
    file->crc = crc;
    file->year = when.year;
    file->month = when.month;
    file->day = when.day;
    file->hour = when.hour;
    file->minute = when.minute;
    file->systemError = 0;
    *handOff->handedOff = 1;
    return kReaderOk;
  }
  DataSource source;
  result = OpenEntryData(facts, &source);
  if (result != UNZ_OK) return result;
  return WriteEntryFile(&source, target, partPattern, targetKind != kPathNothing, size, crc, when,
                        kReaderPartSlot, &gEntrySystemError);
}

}  // namespace

int ExtractCurrentEntry(const Text& destination, int keepFolders) {
  return ExtractEntry(destination, keepFolders, nullptr);
}

int ExtractOrHandOffCurrentEntry(const Text& destination, TargetCheck check, void* context,
                                 HandedOffFile* file, int* handedOff) {
  *handedOff = 0;
  HandOff handOff = {check, context, file, handedOff};
  return ExtractEntry(destination, 1, &handOff);
}

intptr_t OpenArchiveFileForWriter() {
  return gOpen && gPath != nullptr ? OpenPlainFileForReading(Text(gPath)) : 0;
}

int WriteHandedOffFile(HandedOffFile* file, intptr_t archive, int32_t partSlot) {
  DataSource source;
  int result = OpenDirectAt(archive, 0, file->dataStart, file->compressedSize, file->size,
                            file->method, &source);
  if (result != kReaderOk) return result;
  StoredTime when = {file->year, file->month, file->day, file->hour, file->minute};
  return WriteEntryFile(&source, file->target, file->partPattern, 0, file->size, file->crc, when,
                        partSlot, &file->systemError);
}

Text ReaderResultText(int result) {
  switch (result) {
    case kReaderOk: return "ok";
    case kReaderFailed: return "no data, or the file could not be written";
    case kReaderEndOfEntries: return "no more entries";
    case UNZ_PARAMERROR: return "bad parameter";
    case UNZ_BADZIPFILE: return "damaged archive";
    case UNZ_INTERNALERROR: return "internal error";
    case kReaderCrcMismatch: return "CRC mismatch";
    case kReaderUnsafeName:
      return "unsafe name (outside the destination, a drive, a stream or a device)";
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
    case kReaderFolderHoldsData: return "a folder entry (or an empty name) that holds data";
    case kReaderTargetAppeared: return "something else took its name meanwhile";
    case kReaderCannotCreate: return "the file could not be created";
    case kReaderFolderNotMade: return "a folder could not be made";
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
