// The Folder archiver: a depth-first walk collects full paths into the entry
// list, then each item becomes one deflated entry written through minizip.
// Module-wide state: the entry list, the callback slot and the problem list;
// one run at a time. Large archives get their Zip64 end records here, after
// minizip has closed them.
#include "archive/folder_archiver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zip.h>

#include <atomic>

#include "archive/entry_name.h"
#include "archive/folder_walk.h"
#include "archive/name_pattern.h"
#include "archive/output_layout.h"
#include "archive/parallel_deflate.h"
#include "runtime/date.h"
#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"
#include "runtime/name_encoding.h"
#include "runtime/system.h"
#include "runtime/thread.h"

namespace {

const int32_t kListGrowthItems = 64;
const uLong kFlagUtf8Name = 0x0800;
const int kDeflateMemLevel = 8;
const uLong kVersionMadeBy = 0;  // as minizip's plain calls write it
const int kFirstDosYear = 1980;
const int kLastDosYear = 2107;
const char kSpillInfix[] = "-";  // between the archive's name and an item's index

// The Zip64 end of central directory record (56 bytes) and its locator (20).
const uint32_t kZip64EndSignature = 0x06064b50;
const uint32_t kZip64LocatorSignature = 0x07064b50;
const int kZip64EndBytes = 56;
const int kZip64LocatorBytes = 20;
const int kZip64Version = 45;  // 4.5: the APPNOTE version that brought Zip64

// The entry list: the items to store, in walk order (the workers read them
// as they are).
struct PathList {
  ListedItem* items;
  int32_t count;
  int32_t capacity;
};

// One item that did not go in whole: its full path (malloc'd), its
// ArchiverProblem and the system's reason, when a system call failed.
struct Problem {
  char* path;
  int32_t kind;
  int32_t reason;
};

struct ProblemList {
  Problem* items;
  int32_t count;
  int32_t capacity;
};

// One pattern of the items left out, folded as names are compared: path 1
// when it is matched against the whole path below the folder, else against
// an item's own name; foldersOnly 1 when it ended in "/".
struct Exclusion {
  char* pattern;
  int32_t path;
  int32_t foldersOnly;
};

struct ExclusionList {
  Exclusion* items;
  int32_t count;
  int32_t capacity;
};

PathList gEntries = {nullptr, 0, 0};
ProblemList gProblems = {nullptr, 0, 0};
ExclusionList gExclusions = {nullptr, 0, 0};
ArchiverProgressCallback gCallback = nullptr;
ArchiverBytesCallback gBytesCallback = nullptr;
int64_t gNewestTime = -1;  // in file-time units; -1: times as found
int64_t gBytesDone = 0;    // file data stored by this run so far
int64_t gBytesTotal = 0;   // what the last check found to store; 0 when unknown
int gFullDiskStop = 0;     // 1 once a write failed for a full disk: the run stops
// KeepCheckedWalk's choice, and the walk that gEntries holds for the next
// run when a check kept it: its arguments, folderAndPattern a malloc'd copy
// (null: none kept).
int gKeepCheckedWalk = 0;
struct KeptWalk {
  char* folderAndPattern;
  int32_t nameMode;
  int32_t recurse;
  int32_t linkMode;
};
KeptWalk gKept = {nullptr, 0, 0, 0};

// Makes room for one more item in *items, which holds count of capacity;
// 0 when memory is short.
template <typename Item>
int MakeRoom(Item** items, int32_t count, int32_t* capacity) {
  if (count < *capacity) return 1;
  int32_t grown = *capacity + kListGrowthItems;
  Item* moved = static_cast<Item*>(realloc(*items, sizeof(Item) * grown));
  if (moved == nullptr) return 0;
  *items = moved;
  *capacity = grown;
  return 1;
}

// A malloc'd copy of text with its terminating zero; null when memory is short.
char* CopyOfText(const Text& text) {
  char* copy = static_cast<char*>(malloc(text.Length() + 1));
  if (copy != nullptr) memcpy(copy, text.c_str(), text.Length() + 1);
  return copy;
}

void EmptyEntries() {
  for (int32_t i = 0; i < gEntries.count; ++i) free(gEntries.items[i].path);
  free(gEntries.items);
  gEntries = {nullptr, 0, 0};
  free(gKept.folderAndPattern);
  gKept.folderAndPattern = nullptr;
}

void EmptyProblems() {
  for (int32_t i = 0; i < gProblems.count; ++i) free(gProblems.items[i].path);
  free(gProblems.items);
  gProblems = {nullptr, 0, 0};
}

// Appends a copy of path to the entry list with what the walk found there:
// kind, and for a file the identity of what it reached (ListedItem). When
// memory is short the item is missing, which the caller's count comparison
// reveals.
void AddEntry(const Text& path, int32_t kind, const PathIdentity& identity, int32_t known) {
  if (!MakeRoom(&gEntries.items, gEntries.count, &gEntries.capacity)) return;
  char* copy = CopyOfText(path);
  if (copy == nullptr) return;
  ListedItem* item = &gEntries.items[gEntries.count++];
  item->path = copy;
  item->identity = identity;
  item->known = kind != kPathFolder && known;
  item->kind = kind;
}

void EmptyExclusions() {
  for (int32_t i = 0; i < gExclusions.count; ++i) free(gExclusions.items[i].pattern);
  free(gExclusions.items);
  gExclusions = {nullptr, 0, 0};
}

void RecordProblem(const Text& path, int32_t kind, int32_t reason = 0) {
  if (!MakeRoom(&gProblems.items, gProblems.count, &gProblems.capacity)) return;
  char* copy = CopyOfText(path);
  if (copy == nullptr) return;
  gProblems.items[gProblems.count++] = {copy, kind, reason};
}

int StartsWithIgnoringCase(const Text& text, const Text& prefix) {
  return prefix.Length() <= text.Length() &&
         LowerCasedText(text.Middle(0, prefix.Length())) == LowerCasedText(prefix);
}

int LastSeparatorIndex(const Text& text, int limit) {
  for (int i = limit - 1; i >= 0; --i) {
    if (IsPathSeparator(text.At(i))) return i;
  }
  return -1;
}

// The name without its extension: the file part cut before its last ".".
Text BaseHalf(const Text& name) {
  Text part = name.Middle(LastSeparatorIndex(name, name.Length()) + 1, name.Length());
  int dot = part.LastIndexOf('.');
  return dot < 0 ? part : part.Middle(0, dot);
}

// The extension: after the last "." when no separator follows it.
Text ExtensionHalf(const Text& name) {
  int dot = name.LastIndexOf('.');
  if (dot < 0 || LastSeparatorIndex(name, name.Length()) > dot) return Text();
  return name.Middle(dot + 1, name.Length());
}

// What a run knows while it walks: the caller's choices, the folder's
// resolved path (where links may lead) and the archive file, which the walk
// must not list (it exists from the moment zipOpen ran).
struct WalkSettings {
  Text patternBase;
  Text patternExtension;
  int32_t nameMode;
  int32_t recurse;
  int32_t linkMode;
  Text resolvedRoot;
  int32_t rootLength;  // of the folder's path as walked, its separator included
  int archiveKnown;
  PathIdentity archiveIdentity;
  Text archiveName;
};

// A name as Windows compares it: letters upper-cased, UTF-8 ones too.
Text FoldedName(const Text& name) { return UpperCasedName(name); }

// 0 when the walk may take the entry; else the problem it has. A link is
// taken when its target could be reached and, under kLinksWithinFolder,
// lies inside the folder being packed: where the target held lies, not
// where its name leads by now.
int32_t LinkProblem(const WalkSettings& settings, const WalkEntry& entry) {
  if (entry.ownKind != kPathLink) return 0;
  if (entry.target == 0) return kProblemDanglingLink;
  if (settings.linkMode == kLinksWithinFolder &&
      !IsPathWithin(HeldItemPath(entry.target), settings.resolvedRoot)) {
    return kProblemLinkOutside;
  }
  return 0;
}

// 1 when the item at path (its own name name, folded) is left out: a name
// pattern matches its name, a path pattern its path below the folder with
// "/" between the parts.
int IsExcluded(const WalkSettings& settings, const Text& path, const Text& folded,
               int isFolder) {
  Text below;
  for (int32_t i = 0; i < gExclusions.count; ++i) {
    const Exclusion& exclusion = gExclusions.items[i];
    if (exclusion.foldersOnly && !isFolder) continue;
    if (!exclusion.path) {
      if (MatchPathPattern(folded, Text(exclusion.pattern), 0)) return 1;
      continue;
    }
    if (below.IsEmpty()) {
      Text part = UpperCasedName(path.Middle(settings.rootLength, path.Length()));
      for (int k = 0; k < part.Length(); ++k) below += IsPathSeparator(part.At(k)) ? '/' : part.At(k);
    }
    if (MatchPathPattern(below, Text(exclusion.pattern), 1)) return 1;
  }
  return 0;
}

int IsTheArchive(const WalkSettings& settings, const WalkEntry& entry) {
  return settings.archiveKnown && entry.known &&
         LowerCasedText(entry.name) == LowerCasedText(settings.archiveName) &&
         SameIdentity(entry.identity, settings.archiveIdentity);
}

// Collects the entries of the held folder, whose path is folderIn, and of
// the folders below it.
void CollectEntries(const WalkSettings& settings, const Text& folderIn, intptr_t held,
                    FolderChain* chain) {
  intptr_t listing = OpenHeldFolderListing(kAnyNumber, held);
  if (listing == 0) {
    // A folder that cannot be listed (no permission, no more files to open,
    // too deep for its search path) would drop out of the count and of the
    // archive alike, unseen; it is reported instead.
    RecordProblem(folderIn, kProblemFolderUnreadable, LastSystemError());
    return;
  }
  Text folder = folderIn;
  Text previousFolded;
  while (NextEntry(listing)) {
    if (!IsPathSeparator(folder.Last())) folder += kPathSeparator;
    WalkEntry entry;
    ReadWalkEntry(listing, held, 1, &entry);
    const Text& name = entry.name;
    Text path = folder + name;
    int isDirectory = entry.kind == kPathFolder;
    // Folders count here only for a walk that enters them.
    if (name != "." && name != ".." && (!isDirectory || settings.recurse)) {
      Text folded = FoldedName(name);
      // An item left out is not looked at, nor a folder entered: whatever
      // it holds can neither be stored nor keep the rest from being stored.
      if (gExclusions.count > 0 && IsExcluded(settings, path, folded, isDirectory)) {
        ReleaseWalkEntry(&entry);
        continue;
      }
      // Windows would make one file of two names that differ only in case.
      // The listing orders names by their upper-cased bytes (directory.h),
      // so such twins come one right after the other.
      int twin = folded == previousFolded;
      previousFolded = folded;
      int32_t problem = twin ? kProblemCaseTwin : LinkProblem(settings, entry);
      if (problem != 0) {
        RecordProblem(path, problem, problem == kProblemDanglingLink ? entry.reason : 0);
        ReleaseWalkEntry(&entry);
        continue;
      }
    }
    if (isDirectory) {
      if (name == "." && settings.nameMode > 0) AddEntry(folder, kPathFolder, entry.identity, 0);
      if (settings.recurse && name != "." && name != "..") {
        // A folder whose name holds a separator (a "\" made on POSIX) cannot
        // be entered under that path; reported, or its files would vanish
        // from both counts without a word.
        if (LastSeparatorIndex(name, name.Length()) >= 0) {
          RecordProblem(path, kProblemBadName);
        } else {
          int32_t changed = 0;
          int32_t reason = 0;
          intptr_t sub = HoldFolderToEnter(held, &entry, &changed, &reason);
          if (sub == 0) {
            RecordProblem(path, changed ? kProblemChanged : kProblemFolderUnreadable, reason);
          } else if (EnterFolder(chain, sub)) {
            // A link back to a folder the walk is inside of is not followed.
            CollectEntries(settings, path, sub, chain);
            LeaveFolder(chain);
          }
          ReleaseHeldItem(sub);
        }
      }
    } else if (!IsTheArchive(settings, entry) &&
               MatchNamePattern(BaseHalf(name), settings.patternBase) &&
               MatchNamePattern(ExtensionHalf(name), settings.patternExtension)) {
      AddEntry(path, entry.kind, entry.identity, entry.known);
    }
    ReleaseWalkEntry(&entry);
  }
  CloseDirectoryListing(listing);
}

void Put16(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

void Put32(unsigned char* at, uint32_t value) {
  Put16(at, value & 0xFFFF);
  Put16(at + 2, value >> 16);
}

void Put64(unsigned char* at, uint64_t value) {
  Put32(at, static_cast<uint32_t>(value));
  Put32(at + 4, static_cast<uint32_t>(value >> 32));
}

uint32_t Get32(const unsigned char* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// minizip 1.1 writes the Zip64 end records only for a central directory
// that starts beyond 4 GiB; with 65,535 entries or more its end record says
// 0xFFFF and nothing holds the true count, which readers refuse. This puts
// the Zip64 end record and its locator where the end record stood, and the
// end record, unchanged, behind them. Offsets count from the archive's first
// byte, as minizip's do. 1 on success.
int AddZip64EndRecords(const Text& path, uint64_t entries) {
  FILE* file = fopen(path.c_str(), "r+b");
  if (file == nullptr) return 0;
  unsigned char tail[kZip64EndBytes + kZip64LocatorBytes + kEndRecordBytes];
  unsigned char* end = tail + kZip64EndBytes + kZip64LocatorBytes;
  int ok = fseek(file, -kEndRecordBytes, SEEK_END) == 0;
  long endAt = ok ? ftell(file) : -1;
  ok = endAt >= 0 && fread(end, 1, kEndRecordBytes, file) == static_cast<size_t>(kEndRecordBytes);
  uint32_t directoryBytes = ok ? Get32(end + 12) : 0;
  uint32_t directoryAt = ok ? Get32(end + 16) : 0;
  // Only the end record that minizip has just written is rewritten: no
  // comment, and the central directory right in front of it.
  ok = ok && Get32(end) == kEndRecordSignature && end[20] == 0 && end[21] == 0 &&
       static_cast<uint64_t>(directoryAt) + directoryBytes == static_cast<uint64_t>(endAt);
  if (ok) {
    unsigned char* record = tail;
    Put32(record, kZip64EndSignature);
    Put64(record + 4, kZip64EndBytes - 12);  // the size counts what follows this field
    Put16(record + 12, kZip64Version);       // version made by
    Put16(record + 14, kZip64Version);       // version needed to extract
    Put32(record + 16, 0);                   // this disk
    Put32(record + 20, 0);                   // disk where the central directory starts
    Put64(record + 24, entries);             // entries on this disk
    Put64(record + 32, entries);             // entries in all
    Put64(record + 40, directoryBytes);
    Put64(record + 48, directoryAt);
    unsigned char* locator = tail + kZip64EndBytes;
    Put32(locator, kZip64LocatorSignature);
    Put32(locator + 4, 0);                             // disk of the Zip64 record
    Put64(locator + 8, static_cast<uint64_t>(endAt));  // where the Zip64 record starts
    Put32(locator + 16, 1);                            // disks in all
    ok = fseek(file, endAt, SEEK_SET) == 0 && fwrite(tail, 1, sizeof(tail), file) == sizeof(tail);
  }
  if (fclose(file) != 0) ok = 0;
  return ok;
}

// The time fields of an item: its last-write time (known 1), clamped into
// the years the MS-DOS date can hold; the 1970 fields of date value 0 when
// there is none (folder entries).
LocalTimeFields ItemTime(int known, int64_t writeTime) {
  LocalTimeFields fields;
  int32_t value = 0;
  LocalTimeFields found;
  // A newest time given: nothing is stored as later than it.
  if (gNewestTime >= 0 && writeTime > gNewestTime) writeTime = gNewestTime;
  if (known && LocalTimeOfFileTime(writeTime, &found)) {
    if (found.year < kFirstDosYear) {
      LocalTimeFields earliest = {kFirstDosYear, 1, 1, 0, 0, 0};
      found = earliest;
    } else if (found.year > kLastDosYear) {
      LocalTimeFields latest = {kLastDosYear, 12, 31, 23, 59, 58};
      found = latest;
    }
    value = DateValue(found.year, found.month, found.day, found.hour, found.minute, found.second);
    // Beyond 2038 the date value cannot carry the time; the fields go as read.
    if (value < 0) return found;
  }
  fields.second = IntegerValue(FormatDateText("%ss", value));
  fields.minute = IntegerValue(FormatDateText("%ii", value));
  fields.hour = IntegerValue(FormatDateText("%hh", value));
  fields.day = IntegerValue(FormatDateText("%dd", value));
  fields.month = IntegerValue(FormatDateText("%mm", value));
  fields.year = IntegerValue(FormatDateText("%yyyy", value));
  return fields;
}

// The stored name of an item, with "\" between its parts on every platform.
Text StoredName(const Text& item, const Text& folder, int32_t nameMode) {
  Text name;
  if (nameMode == kNameRelative) {
    // Only the leading folder is taken away; a later repeat of the folder's
    // text inside the path is part of the name.
    name =
        StartsWithIgnoringCase(item, folder) ? item.Middle(folder.Length(), item.Length()) : item;
  } else if (nameMode == kNameFullPath) {
    name = item;
  } else {
    return FileNamePart(item);
  }
  Text stored;
  for (int i = 0; i < name.Length(); ++i) {
    char c = name.At(i);
    stored += (c == kPathSeparator) ? '\\' : c;
  }
  return stored;
}

// Opens a new deflated entry at level 9; with raw 1 the caller writes the
// deflated stream itself and closes with its size and CRC. A name with a
// byte from 0x80 on a system whose names are UTF-8 is stored with
// general-purpose bit 11, which says so; every other name goes in exactly as
// it always did. minizip marks level 9 in the flags for raw entries too.
int OpenNewEntry(zipFile archive, const Text& stored, const zip_fileinfo* info, int raw) {
  if (!kNamesAreUtf8 || IsAsciiText(stored)) {
    if (raw) {
      return zipOpenNewFileInZip2(archive, stored.c_str(), info, nullptr, 0, nullptr, 0, nullptr,
                                  Z_DEFLATED, kCompressionLevel, 1);
    }
    return zipOpenNewFileInZip(archive, stored.c_str(), info, nullptr, 0, nullptr, 0, nullptr,
                               Z_DEFLATED, kCompressionLevel);
  }
  return zipOpenNewFileInZip4(archive, stored.c_str(), info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, kCompressionLevel, raw, -MAX_WBITS, kDeflateMemLevel,
                              Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy, kFlagUtf8Name);
}

// 0 when every part of the item below the folder can be created on Windows
// as a file of its own; else the problem of the first part that cannot.
int32_t NameProblem(const Text& item, const Text& folder) {
  Text below = StartsWithIgnoringCase(item, folder) ? item.Middle(folder.Length(), item.Length())
                                                    : FileNamePart(item);
  int start = 0;
  for (int i = 0; i <= below.Length(); ++i) {
    if (i == below.Length() || below.At(i) == kPathSeparator) {
      Text part = below.Middle(start, i - start);
      char last = part.Last();
      if (!part.IsEmpty() && (last == '.' || last == ' ')) return kProblemTrailingDot;
      // Names are stored as UTF-8 here: one that is not cannot be.
      if (kNamesAreUtf8 && !IsUtf8Text(part)) return kProblemNotUtf8;
      if (!IsPortableNamePart(part)) return kProblemBadName;
      start = i + 1;
    }
  }
  return 0;
}

// Deflates the data of the open file, which was as before when the reading
// began, into the open entry. 0 when exactly before.size bytes went in and
// the file is still as it was; else the problem, with the system's reason in
// *reason when a read failed.
int32_t WriteFileData(zipFile archive, intptr_t file, const FileState& before, int32_t chunkPauseMs,
                      int32_t* reason) {
  char* buffer = static_cast<char*>(AllocateBlock(kReadChunkBytes));
  if (buffer == nullptr) return kProblemUnreadable;
  int writesOk = 1;
  int64_t size = before.size;
  int64_t total = 0;
  while (total <= size) {
    int32_t got = ReadBytes(file, buffer, kReadChunkBytes);
    if (got < kReadChunkBytes) *reason = LastSystemError();
    if (got <= 0) break;
    total += got;
    // More data than the file had: it grows, and what it holds is no
    // longer what was sized up; reading stops.
    if (total > size) break;
    if (zipWriteInFileInZip(archive, buffer, static_cast<unsigned>(got)) != ZIP_OK) {
      // The archive could not take the data: a full disk ends the run.
      writesOk = 0;
      *reason = LastSystemError();
      break;
    }
    gBytesDone += got;
    if (gBytesCallback != nullptr) gBytesCallback(gBytesDone, gBytesTotal);
    if (chunkPauseMs > 0) PauseMilliseconds(chunkPauseMs);
  }
  FreeBlock(buffer);
  if (!writesOk) return kProblemEntryFailed;
  // Written over in place, truncated and filled again, or grown: the times,
  // the size or the file itself differ from before, and the entry holds
  // bytes of more than one version.
  FileState after;
  if (GetOpenFileState(file, &after, 0) != 1 || !SameFileState(before, after) || total > size) {
    *reason = 0;
    return kProblemChanged;
  }
  // Short of a size that still stands: the reads failed.
  if (total < size) return kProblemUnreadable;
  *reason = 0;
  return 0;
}

}  // namespace

void InitFolderArchiver() {
  EmptyEntries();
  EmptyProblems();
}

int32_t SetArchiverProgressCallback(ArchiverProgressCallback callback) {
  gCallback = callback;
  return 0;
}

void SetArchiverBytesCallback(ArchiverBytesCallback callback) { gBytesCallback = callback; }

int32_t SetArchiverExclusions(const Text* patterns, int32_t count) {
  EmptyExclusions();
  for (int32_t i = 0; i < count; ++i) {
    // Each alternative is a pattern of its own, as "|" splits them anyway.
    Text whole = patterns[i];
    int from = 0;
    for (int k = 0; k <= whole.Length(); ++k) {
      if (k < whole.Length() && whole.At(k) != '|') continue;
      Text alternative;
      for (int c = from; c < k; ++c) {
        alternative += IsPathSeparator(whole.At(c)) ? '/' : whole.At(c);
      }
      from = k + 1;
      // "./x" and "/x" say the path from the folder: they are path patterns.
      int anchored = 0;
      while (alternative.Middle(0, 2) == "./") {
        alternative = alternative.Middle(2, alternative.Length());
        anchored = 1;
      }
      while (alternative.Middle(0, 1) == "/") {
        alternative = alternative.Middle(1, alternative.Length());
        anchored = 1;
      }
      int foldersOnly = 0;
      while (alternative.Last() == '/') {
        alternative = alternative.Middle(0, alternative.Length() - 1);
        foldersOnly = 1;
      }
      if (alternative.IsEmpty()) continue;
      char* copy = CopyOfText(UpperCasedName(alternative));
      if (copy == nullptr ||
          !MakeRoom(&gExclusions.items, gExclusions.count, &gExclusions.capacity)) {
        free(copy);
        EmptyExclusions();
        return 0;
      }
      int path = anchored || alternative.LastIndexOf('/') >= 0;
      gExclusions.items[gExclusions.count++] = {copy, path, foldersOnly};
    }
  }
  return 1;
}

void SetArchiverNewestTime(int64_t newestTime) {
  const int64_t kFileTimeUnitsPerSecond = 1000000000;
  gNewestTime = newestTime < 0 ? -1 : newestTime * kFileTimeUnitsPerSecond;
}

void FreeFolderArchiver() {
  EmptyEntries();
  EmptyProblems();
  EmptyExclusions();
  gNewestTime = -1;
  gBytesTotal = 0;
}

int32_t ArchiverProblemCount() { return gProblems.count; }

Text ArchiverProblemPath(int32_t index) {
  if (index < 0 || index >= gProblems.count) return Text();
  return Text(gProblems.items[index].path);
}

int32_t ArchiverProblemKind(int32_t index) {
  if (index < 0 || index >= gProblems.count) return 0;
  return gProblems.items[index].kind;
}

int32_t ArchiverProblemReason(int32_t index) {
  if (index < 0 || index >= gProblems.count) return 0;
  return gProblems.items[index].reason;
}

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  uint32_t y = static_cast<uint32_t>(year);
  if (y >= static_cast<uint32_t>(kFirstDosYear)) {
    y -= kFirstDosYear;
  } else if (y > 80) {
    y -= 80;  // counted from 1900 instead
  }
  uint32_t date = y * 512 + static_cast<uint32_t>(month) * 32 + static_cast<uint32_t>(day);
  uint32_t time = static_cast<uint32_t>(hour) * 2048 + static_cast<uint32_t>(minute) * 32 +
                  static_cast<uint32_t>(second) / 2;
  return ((date & 0xFFFF) << 16) | (time & 0xFFFF);
}

namespace {

// Walks the folder of folderAndPattern into the entry list, leaving out the
// archive at archivePath (none for the empty text). Sets *folder to the
// folder part of folderAndPattern.
void WalkIntoEntries(const Text& archivePath, const Text& folderAndPattern, int32_t nameMode,
                     int32_t recurse, int32_t linkMode, Text* folder) {
  // The list a check just kept for this very run is the walk.
  int reuse = gKept.folderAndPattern != nullptr &&
              strcmp(gKept.folderAndPattern, folderAndPattern.c_str()) == 0 &&
              gKept.nameMode == nameMode && gKept.recurse == recurse && gKept.linkMode == linkMode;
  free(gKept.folderAndPattern);
  gKept.folderAndPattern = nullptr;
  int limit = folderAndPattern.Length();
  for (int i = 0; i < folderAndPattern.Length(); ++i) {
    if (folderAndPattern.At(i) == '|') {
      limit = i;
      break;
    }
  }
  int split = LastSeparatorIndex(folderAndPattern, limit);
  *folder = folderAndPattern.Middle(0, split + 1);
  Text pattern = folderAndPattern.Middle(split + 1, folderAndPattern.Length());
  WalkSettings settings;
  settings.patternBase = BaseHalf(pattern);
  settings.patternExtension = ExtensionHalf(pattern);
  if (pattern == "*.*") {
    settings.patternBase = "*";
    settings.patternExtension = "*";
  }
  settings.nameMode = nameMode;
  settings.recurse = recurse;
  settings.linkMode = linkMode;
  settings.archiveKnown =
      !archivePath.IsEmpty() && GetPathIdentity(archivePath, &settings.archiveIdentity);
  settings.archiveName = FileNamePart(archivePath);
  if (reuse) return;

  EmptyEntries();
  FolderChain chain;
  InitFolderChain(&chain);
  // The chosen folder is held once, links followed (the user named it), and
  // everything below is reached through it.
  Text walkRoot = *folder;
  settings.rootLength = walkRoot.Length();
  if (!walkRoot.IsEmpty() && !IsPathSeparator(walkRoot.Last())) settings.rootLength++;
  intptr_t root = HoldPath(walkRoot.IsEmpty() ? Text(".") : walkRoot);
  if (HeldItemKind(root) != kPathFolder) {
    // Only a chosen folder that does not exist at all is simply empty.
    int32_t reason = root == 0 ? LastSystemError() : 0;
    if (PathSize(walkRoot) != -1) RecordProblem(walkRoot, kProblemFolderUnreadable, reason);
  } else if (EnterFolder(&chain, root)) {
    settings.resolvedRoot = HeldItemPath(root);
    CollectEntries(settings, walkRoot, root, &chain);
    LeaveFolder(&chain);
  }
  ReleaseHeldItem(root);
  FreeFolderChain(&chain);
}

// minizip writes the archive through a C stream, and for every entry it
// asks for the position twice and seeks back to put the CRC and sizes into
// the local header, then forward again: with the C library's buffer each of
// those is a system call. The archive is therefore written through a buffer
// of this module's own, which knows the position and takes the header's
// amendment in memory while the header is still in it; the C stream under
// it, unbuffered, is reached through minizip's own stream functions, and
// only to write out a full buffer or seek where the buffer is not.
const int32_t kArchiveBufferBytes = 1024 * 1024;

struct ArchiveStream {
  voidpf file;          // minizip's C stream, unbuffered
  char* buffer;         // kArchiveBufferBytes
  uint64_t bufferStart; // the archive offset of buffer[0]
  uint32_t buffered;    // bytes in the buffer
  uint64_t position;    // where the next write goes
  uint64_t filePosition;  // the C stream's own position
  uint64_t end;         // the archive's length so far
  int failed;           // a write or seek of the C stream failed
};

zlib_filefunc64_def gStdioFunctions;   // minizip's own
zlib_filefunc64_def gStreamFunctions;  // the buffered ones below

// Writes length bytes to the C stream at offset. 1 on success.
int WriteThrough(ArchiveStream* stream, uint64_t offset, const void* bytes, uint32_t length) {
  if (stream->failed) return 0;
  if (stream->filePosition != offset &&
      gStdioFunctions.zseek64_file(gStdioFunctions.opaque, stream->file, offset,
                                   ZLIB_FILEFUNC_SEEK_SET) != 0) {
    stream->failed = 1;
    return 0;
  }
  stream->filePosition = offset;
  if (gStdioFunctions.zwrite_file(gStdioFunctions.opaque, stream->file, bytes, length) != length) {
    stream->failed = 1;
    return 0;
  }
  stream->filePosition += length;
  return 1;
}

int FlushArchiveBuffer(ArchiveStream* stream) {
  if (stream->buffered == 0) return !stream->failed;
  int ok = WriteThrough(stream, stream->bufferStart, stream->buffer, stream->buffered);
  stream->buffered = 0;
  return ok;
}

voidpf ZCALLBACK OpenArchiveStream(voidpf opaque, const void* name, int mode) {
  ArchiveStream* stream = static_cast<ArchiveStream*>(calloc(1, sizeof(ArchiveStream)));
  char* buffer = static_cast<char*>(malloc(kArchiveBufferBytes));
  voidpf file = stream != nullptr && buffer != nullptr
                    ? gStdioFunctions.zopen64_file(opaque, name, mode)
                    : nullptr;
  if (file == nullptr) {
    free(buffer);
    free(stream);
    return nullptr;
  }
  setvbuf(static_cast<FILE*>(file), nullptr, _IONBF, 0);
  stream->file = file;
  stream->buffer = buffer;
  return stream;
}

uLong ZCALLBACK WriteArchiveStream(voidpf, voidpf handle, const void* bytes, uLong size) {
  ArchiveStream* stream = static_cast<ArchiveStream*>(handle);
  uint64_t length = size;
  // Where the bytes meet or extend what the buffer holds, they go into it.
  if (stream->buffered > 0 &&
      (stream->position < stream->bufferStart ||
       stream->position > stream->bufferStart + stream->buffered ||
       stream->position + length > stream->bufferStart + kArchiveBufferBytes)) {
    if (!FlushArchiveBuffer(stream)) return 0;
  }
  if (length >= static_cast<uint64_t>(kArchiveBufferBytes)) {
    if (!WriteThrough(stream, stream->position, bytes, static_cast<uint32_t>(length))) return 0;
  } else {
    if (stream->buffered == 0) stream->bufferStart = stream->position;
    uint64_t at = stream->position - stream->bufferStart;
    memcpy(stream->buffer + at, bytes, static_cast<size_t>(length));
    if (at + length > stream->buffered) stream->buffered = static_cast<uint32_t>(at + length);
  }
  stream->position += length;
  if (stream->position > stream->end) stream->end = stream->position;
  return size;
}

ZPOS64_T ZCALLBACK TellArchiveStream(voidpf, voidpf handle) {
  return static_cast<ArchiveStream*>(handle)->position;
}

long ZCALLBACK SeekArchiveStream(voidpf, voidpf handle, ZPOS64_T offset, int origin) {
  ArchiveStream* stream = static_cast<ArchiveStream*>(handle);
  uint64_t base = origin == ZLIB_FILEFUNC_SEEK_CUR   ? stream->position
                  : origin == ZLIB_FILEFUNC_SEEK_END ? stream->end
                                                     : 0;
  stream->position = base + offset;
  return 0;
}

// minizip reads nothing of an archive it creates; a read is refused.
uLong ZCALLBACK ReadArchiveStream(voidpf, voidpf, void*, uLong) { return 0; }

int ZCALLBACK CloseArchiveStream(voidpf opaque, voidpf handle) {
  ArchiveStream* stream = static_cast<ArchiveStream*>(handle);
  int flushed = FlushArchiveBuffer(stream);
  int closed = gStdioFunctions.zclose_file(opaque, stream->file);
  free(stream->buffer);
  free(stream);
  return flushed && closed == 0 ? 0 : -1;
}

int ZCALLBACK ArchiveStreamError(voidpf opaque, voidpf handle) {
  ArchiveStream* stream = static_cast<ArchiveStream*>(handle);
  return stream->failed || gStdioFunctions.zerror_file(opaque, stream->file) != 0;
}

// Opens the new archive and walks the folder into the entry list. Sets
// *folder to the folder part of folderAndPattern. Null when the archive
// cannot be opened (recorded as a problem).
zipFile BeginRun(const Text& archivePath, const Text& folderAndPattern, int32_t nameMode,
                 int32_t recurse, int32_t linkMode, Text* folder) {
  EmptyProblems();
  gBytesDone = 0;
  gFullDiskStop = 0;
  if (gStreamFunctions.zopen64_file == nullptr) {
    fill_fopen64_filefunc(&gStdioFunctions);
    gStreamFunctions = gStdioFunctions;
    gStreamFunctions.zopen64_file = OpenArchiveStream;
    gStreamFunctions.zread_file = ReadArchiveStream;
    gStreamFunctions.zwrite_file = WriteArchiveStream;
    gStreamFunctions.ztell64_file = TellArchiveStream;
    gStreamFunctions.zseek64_file = SeekArchiveStream;
    gStreamFunctions.zclose_file = CloseArchiveStream;
    gStreamFunctions.zerror_file = ArchiveStreamError;
  }
  // Always a new archive: adding to what a file of that name already holds
  // would carry its entries into the output.
  zipFile archive =
      zipOpen2_64(archivePath.c_str(), APPEND_STATUS_CREATE, nullptr, &gStreamFunctions);
  if (archive == nullptr) {
    RecordProblem(archivePath, kProblemArchiveFailed, LastSystemError());
    return nullptr;
  }
  WalkIntoEntries(archivePath, folderAndPattern, nameMode, recurse, linkMode, folder);
  return archive;
}

// Records the problem of an item; a write that failed for a full disk is
// recorded once, against the archive, and stops the run: every later write
// would fail alike.
void RecordItemProblem(const Text& item, const Text& archivePath, int32_t problem,
                       int32_t reason) {
  if ((problem == kProblemEntryFailed || problem == kProblemArchiveFailed) && IsDiskFull(reason)) {
    RecordProblem(archivePath, kProblemArchiveFailed, reason);
    gFullDiskStop = 1;
    return;
  }
  RecordProblem(item, problem, reason);
}

// Closes the archive, adding the Zip64 end records when entries call for them.
void EndRun(zipFile archive, const Text& archivePath, int64_t entries) {
  EmptyEntries();
  gBytesTotal = 0;
  if (zipClose(archive, nullptr) != ZIP_OK) {
    // After a full disk the closing fails too; that was said once.
    if (!gFullDiskStop) RecordProblem(archivePath, kProblemArchiveFailed, LastSystemError());
  } else if (entries >= kZip64EntryCount && !AddZip64EndRecords(archivePath, entries)) {
    RecordProblem(archivePath, kProblemArchiveFailed);
  }
}

// The entry's time and date for minizip: a file's last-write time (known
// 1), or the fixed date of folder entries.
zip_fileinfo ItemInfo(int known, int64_t writeTime) {
  LocalTimeFields when = ItemTime(known, writeTime);
  zip_fileinfo info;
  memset(&info, 0, sizeof(info));
  info.tmz_date.tm_sec = when.second;
  info.tmz_date.tm_min = when.minute;
  info.tmz_date.tm_hour = when.hour;
  info.tmz_date.tm_mday = when.day;
  info.tmz_date.tm_mon = when.month - 1;
  info.tmz_date.tm_year = when.year;
  // The DOS date is computed here in 32 bits: minizip's own computation
  // overflows a 64-bit uLong for the 1970 fields.
  info.dosDate = DosDateTime(when.year, when.month, when.day, when.hour, when.minute, when.second);
  return info;
}

void ReportProgress(const Text& item, int32_t added, int32_t total) {
  if (gCallback == nullptr) return;
  double share = static_cast<double>(added) / static_cast<double>(total) * 100.0;
  gCallback(item, static_cast<float>(share));
}

// Writes a folder entry: no data. Counts it in *entries once opened.
void WriteFolderEntry(zipFile archive, const Text& archivePath, const Text& item,
                      const Text& stored, const zip_fileinfo* info, int64_t* entries) {
  if (OpenNewEntry(archive, stored, info, 0) != ZIP_OK) {
    RecordItemProblem(item, archivePath, kProblemEntryFailed, LastSystemError());
    return;
  }
  ++*entries;
  if (zipCloseFileInZip(archive) != ZIP_OK) {
    RecordItemProblem(item, archivePath, kProblemArchiveFailed, LastSystemError());
  }
}

// Writes the listed items one by one on this thread, deflated by minizip.
// Returns the files added; counts the entries opened in *entries.
int32_t WriteEntriesInTurn(zipFile archive, const Text& archivePath, const Text& folder,
                           int32_t nameMode, int32_t chunkPauseMs, int64_t* entries) {
  int32_t added = 0;
  const int32_t total = gEntries.count;
  for (int32_t i = 0; i < total && !gFullDiskStop; ++i) {
    const ListedItem& listed = gEntries.items[i];
    Text item(listed.path);
    int isFolderEntry = IsPathSeparator(item.Last());
    Text stored = StoredName(item, folder, nameMode);
    ReportProgress(item, added, total);

    int32_t nameProblem = NameProblem(item, folder);
    if (nameProblem != 0) {
      RecordProblem(item, nameProblem);
      continue;
    }
    if (isFolderEntry) {
      zip_fileinfo info = ItemInfo(0, 0);
      WriteFolderEntry(archive, archivePath, item, stored, &info, entries);
      continue;
    }
    // A pipe would give no data, or wait for a writer; a device, endless data.
    if (listed.kind == kPathSpecial) {
      RecordProblem(item, kProblemSpecialFile);
      continue;
    }
    // Every file is opened, an empty one too: one that cannot be opened
    // is not known to be empty.
    intptr_t file = OpenFileForReading(kAnyNumber, item);
    if (file == 0) {
      RecordProblem(item, kProblemUnreadable, LastSystemError());
      continue;
    }
    int32_t problem = 0;
    int32_t reason = 0;
    FileState before;
    int settled = GetOpenFileState(file, &before, 1);
    if (settled == 0) {
      problem = kProblemUnreadable;
      reason = LastSystemError();
    } else if (settled < 0 || !listed.known || !SameIdentity(before.identity, listed.identity)) {
      // Another file put under the name since the walk is not the one
      // listed, nor one reached through a folder swapped for a link; a file
      // changing all the time has no one version to store.
      problem = kProblemChanged;
    } else if (before.size >= kMaxEntryBytes) {
      problem = kProblemTooLarge;
    } else {
      // The time comes from the file read, never from one that its name
      // may lead to a moment earlier or later.
      zip_fileinfo info = ItemInfo(1, before.writeTime);
      if (OpenNewEntry(archive, stored, &info, 0) != ZIP_OK) {
        problem = kProblemEntryFailed;
        reason = LastSystemError();
      } else {
        ++*entries;
        problem = WriteFileData(archive, file, before, chunkPauseMs, &reason);
        if (zipCloseFileInZip(archive) != ZIP_OK && problem == 0) {
          problem = kProblemArchiveFailed;
          reason = LastSystemError();
        }
      }
    }
    CloseFileNumber(file);
    if (problem != 0) {
      RecordItemProblem(item, archivePath, problem, reason);
    } else {
      ++added;
    }
  }
  return added;
}

int WriteRawBytes(void* archive, const void* bytes, int32_t length) {
  return zipWriteInFileInZip(static_cast<zipFile>(archive), bytes, static_cast<unsigned>(length)) ==
         ZIP_OK;
}

// Writes the listed items in list order as the workers deliver their
// streams: each file's entry is opened raw, given the stream and closed with
// the file's size and CRC. The central header's text attribute is passed in
// as minizip would have set it from zlib's verdict, so the bytes are those
// of WriteEntriesInTurn. A file the workers found wanting gets no entry.
int32_t WriteDeflatedEntries(zipFile archive, const Text& archivePath, const Text& folder,
                             int32_t nameMode, int64_t* entries) {
  int32_t added = 0;
  const int32_t total = gEntries.count;
  for (int32_t i = 0; i < total && !gFullDiskStop; ++i) {
    Text item(gEntries.items[i].path);
    Text stored = StoredName(item, folder, nameMode);
    ReportProgress(item, added, total);

    DeflatedItem deflated;
    WaitForDeflatedItem(i, &deflated);
    int32_t problem = NameProblem(item, folder);
    int32_t reason = 0;
    if (problem == 0 && IsPathSeparator(item.Last())) {
      zip_fileinfo info = ItemInfo(0, 0);
      WriteFolderEntry(archive, archivePath, item, stored, &info, entries);
      FinishDeflatedItem(i);
      continue;
    }
    if (problem == 0) {
      problem = deflated.problem;
      reason = deflated.reason;
    }
    if (problem == 0) {
      zip_fileinfo info = ItemInfo(1, deflated.writeTime);
      info.internal_fa = deflated.text ? Z_TEXT : 0;
      if (OpenNewEntry(archive, stored, &info, 1) != ZIP_OK) {
        problem = kProblemEntryFailed;
        reason = LastSystemError();
      } else {
        ++*entries;
        if (!CopyDeflatedStream(i, WriteRawBytes, archive)) {
          problem = kProblemEntryFailed;
          reason = LastSystemError();
        }
        if (zipCloseFileInZipRaw(archive, static_cast<uLong>(deflated.size), deflated.crc) !=
                ZIP_OK &&
            problem == 0) {
          problem = kProblemArchiveFailed;
          reason = LastSystemError();
        }
      }
    }
    FinishDeflatedItem(i);
    if (problem != 0) {
      RecordItemProblem(item, archivePath, problem, reason);
    } else {
      ++added;
      gBytesDone += deflated.size;
      if (gBytesCallback != nullptr) gBytesCallback(gBytesDone, gBytesTotal);
    }
  }
  return added;
}

}  // namespace

namespace {

// SetArchiverCheckThreads's choice.
int32_t gCheckThreads = 1;

// What opening one listed file found: kProblemUnreadable with the system's
// reason, or its length.
struct OpenedFile {
  int32_t problem;
  int32_t reason;
  int64_t size;
};

// The opening of the listed files, shared by the check's threads: each
// takes the next batch of items until none is left.
struct OpeningRun {
  OpenedFile* found;  // one per item of gEntries
  std::atomic<int32_t> next;
};
OpeningRun gOpening;

const int32_t kOpeningBatchItems = 32;

// Opens each listed file as the run will open it, batch after batch. Folder
// entries and special files are not opened.
void OpenListedFiles() {
  for (;;) {
    int32_t begin = gOpening.next.fetch_add(kOpeningBatchItems);
    if (begin >= gEntries.count) return;
    int32_t end = begin + kOpeningBatchItems;
    if (end > gEntries.count) end = gEntries.count;
    for (int32_t i = begin; i < end; ++i) {
      const ListedItem& listed = gEntries.items[i];
      OpenedFile* found = &gOpening.found[i];
      Text item(listed.path);
      if (IsPathSeparator(item.Last()) || listed.kind == kPathSpecial) continue;
      intptr_t file = OpenPlainFileForReading(item);
      if (file == 0) {
        found->problem = kProblemUnreadable;
        found->reason = LastSystemError();
        continue;
      }
      found->size = PlainFileLength(file);
      ClosePlainFile(file);
    }
  }
}

int32_t OpeningThread(int32_t) {
  OpenListedFiles();
  return 0;
}

// Opens every listed file, on the check's threads when there are more than
// one: the opening is most of a check's time, and each open waits on the
// system alone. Null when memory is short; the caller then opens each file
// itself.
OpenedFile* OpenListedFilesOnThreads() {
  if (gCheckThreads <= 1 || gEntries.count == 0) return nullptr;
  gOpening.found = static_cast<OpenedFile*>(
      AllocateBlock(static_cast<int64_t>(sizeof(OpenedFile)) * gEntries.count));  // zero-filled
  if (gOpening.found == nullptr) return nullptr;
  gOpening.next.store(0);
  intptr_t helpers[kMaxCheckThreads - 1] = {};
  for (int32_t k = 0; k + 1 < gCheckThreads; ++k) helpers[k] = StartThread(OpeningThread, 0);
  OpenListedFiles();
  for (int32_t k = 0; k + 1 < gCheckThreads; ++k) {
    if (helpers[k] != 0) WaitForThread(helpers[k], -1);
  }
  return gOpening.found;
}

}  // namespace

void SetArchiverCheckThreads(int32_t threads) {
  gCheckThreads = threads < 1 ? 1 : threads > kMaxCheckThreads ? kMaxCheckThreads : threads;
}

int32_t CheckFolderForArchive(const Text& folderAndPattern, int32_t nameMode, int32_t recurse,
                              int32_t linkMode, int64_t* bytes) {
  EmptyProblems();
  *bytes = 0;
  EmptyEntries();  // a list kept before is not this walk
  Text folder;
  WalkIntoEntries(Text(), folderAndPattern, nameMode, recurse, linkMode, &folder);
  OpenedFile* opened = OpenListedFilesOnThreads();
  int32_t files = 0;
  for (int32_t i = 0; i < gEntries.count; ++i) {
    const ListedItem& listed = gEntries.items[i];
    Text item(listed.path);
    int isFolderEntry = IsPathSeparator(item.Last());
    if (!isFolderEntry) ++files;
    // With folder entries each folder's own name is checked at its entry,
    // once, not again with every item below it.
    // The own name is what follows the last separator of the system's
    // paths: a "\" made on POSIX is part of a name, which Windows refuses.
    int32_t problem = 0;
    Text path = isFolderEntry ? item.Middle(0, item.Length() - 1) : item;
    Text own = path.Middle(path.LastIndexOf(kPathSeparator) + 1, path.Length());
    if (nameMode == kNameFileOnly) {
      problem = isFolderEntry ? 0 : NameProblem(item, folder);
    } else if (item.Length() > folder.Length()) {
      problem = NameProblem(own, Text());
    }
    int32_t reason = 0;
    if (problem == 0 && !isFolderEntry) {
      if (listed.kind == kPathSpecial) {
        problem = kProblemSpecialFile;
      } else {
        // Opened as the run will open it: one that cannot be read now
        // would be found only after everything before it was compressed.
        OpenedFile found = {0, 0, 0};
        if (opened != nullptr) {
          found = opened[i];
        } else {
          intptr_t file = OpenPlainFileForReading(item);
          if (file == 0) {
            found.problem = kProblemUnreadable;
            found.reason = LastSystemError();
          } else {
            found.size = PlainFileLength(file);
            ClosePlainFile(file);
          }
        }
        problem = found.problem;
        reason = found.reason;
        if (problem == 0 && found.size >= kMaxEntryBytes) {
          problem = kProblemTooLarge;
        } else if (problem == 0 && found.size > 0) {
          *bytes += found.size;
        }
      }
    }
    if (problem != 0) RecordProblem(item, problem, reason);
  }
  FreeBlock(opened);
  if (gKeepCheckedWalk && gProblems.count == 0) {
    gKept.folderAndPattern = CopyOfText(folderAndPattern);
    gKept.nameMode = nameMode;
    gKept.recurse = recurse;
    gKept.linkMode = linkMode;
  }
  if (gKept.folderAndPattern == nullptr) EmptyEntries();
  gBytesTotal = *bytes;
  return files;
}

void KeepCheckedWalk(int keep) {
  gKeepCheckedWalk = keep;
  if (!keep) EmptyEntries();
}

int32_t AddFolderToArchive(const Text& archivePath, const Text& folderAndPattern, int32_t nameMode,
                           int32_t recurse, int32_t chunkPauseMs, int32_t linkMode) {
  Text folder;
  zipFile archive = BeginRun(archivePath, folderAndPattern, nameMode, recurse, linkMode, &folder);
  if (archive == nullptr) return 0;
  int32_t added = 0;
  int64_t entries = 0;  // entries opened in the archive, folder entries too
  if (gEntries.count > 0) {
    added = WriteEntriesInTurn(archive, archivePath, folder, nameMode, chunkPauseMs, &entries);
    if (gCallback != nullptr) gCallback(Text(""), 100.0f);
  }
  EndRun(archive, archivePath, entries);
  return added;
}

int32_t AddFolderToArchiveInParallel(const Text& archivePath, const Text& folderAndPattern,
                                     int32_t nameMode, int32_t recurse, int32_t linkMode,
                                     int32_t workers) {
  Text folder;
  zipFile archive = BeginRun(archivePath, folderAndPattern, nameMode, recurse, linkMode, &folder);
  if (archive == nullptr) return 0;
  int32_t added = 0;
  int64_t entries = 0;
  if (gEntries.count > 0) {
    // Spill files go beside the archive, whose folder the caller chose for it.
    int32_t started = workers > 1 ? StartDeflateWorkers(gEntries.items, gEntries.count,
                                                        archivePath + kSpillInfix, workers)
                                  : 0;
    if (started > 0) {
      added = WriteDeflatedEntries(archive, archivePath, folder, nameMode, &entries);
      StopDeflateWorkers();
    } else {
      added = WriteEntriesInTurn(archive, archivePath, folder, nameMode, 0, &entries);
    }
    if (gCallback != nullptr) gCallback(Text(""), 100.0f);
  }
  EndRun(archive, archivePath, entries);
  return added;
}
