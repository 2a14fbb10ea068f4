// The Folder archiver: a depth-first walk collects full paths into the entry
// list, then each item becomes one deflated entry written through minizip.
// Module-wide state: the entry list, the callback slot and the problem list;
// one run at a time.
#include "archive/folder_archiver.h"

#include <stdlib.h>
#include <string.h>
#include <unzip.h>
#include <zip.h>

#include "archive/entry_name.h"
#include "archive/folder_walk.h"
#include "runtime/date.h"
#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/memory.h"
#include "runtime/system.h"

namespace {

const int32_t kListGrowthItems = 64;
const int kFirstDosYear = 1980;
const int kLastDosYear = 2107;

// An ordered list of malloc'd strings.
struct PathList {
  char** items;
  int32_t* kinds;  // used by the problem list only
  int32_t count;
  int32_t capacity;
};

PathList gEntries = {nullptr, nullptr, 0, 0};
PathList gProblems = {nullptr, nullptr, 0, 0};
ArchiverProgressCallback gCallback = nullptr;

void EmptyList(PathList* list) {
  for (int32_t i = 0; i < list->count; ++i) free(list->items[i]);
  free(list->items);
  free(list->kinds);
  list->items = nullptr;
  list->kinds = nullptr;
  list->count = 0;
  list->capacity = 0;
}

// Appends a copy of text; 0 when memory is short (the item is then missing,
// which the caller's count comparison reveals).
int AppendToList(PathList* list, const Text& text, int32_t kind) {
  if (list->count == list->capacity) {
    int32_t capacity = list->capacity + kListGrowthItems;
    char** items = (char**)realloc(list->items, sizeof(char*) * capacity);
    if (items == nullptr) return 0;
    list->items = items;
    int32_t* kinds = (int32_t*)realloc(list->kinds, sizeof(int32_t) * capacity);
    if (kinds == nullptr) return 0;
    list->kinds = kinds;
    list->capacity = capacity;
  }
  char* copy = (char*)malloc(text.Length() + 1);
  if (copy == nullptr) return 0;
  memcpy(copy, text.c_str(), text.Length() + 1);
  list->items[list->count] = copy;
  list->kinds[list->count] = kind;
  list->count++;
  return 1;
}

void RecordProblem(const Text& path, int32_t kind) { AppendToList(&gProblems, path, kind); }

char LowerByte(char c) {
  unsigned char u = (unsigned char)c;
  if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE)) u = (unsigned char)(u + 32);
  return (char)u;
}

Text LowerText(const Text& text) {
  Text result;
  for (int i = 0; i < text.Length(); ++i) result += LowerByte(text.At(i));
  return result;
}

int StartsWithIgnoringCase(const Text& text, const Text& prefix) {
  if (prefix.Length() > text.Length()) return 0;
  for (int i = 0; i < prefix.Length(); ++i) {
    if (LowerByte(text.At(i)) != LowerByte(prefix.At(i))) return 0;
  }
  return 1;
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

// What a run knows while it walks: the caller's choices and the archive file,
// which the walk must not list (it exists from the moment zipOpen ran).
struct WalkSettings {
  Text pattern;
  Text patternBase;
  Text patternExtension;
  int32_t nameMode;
  int32_t recurse;
  int archiveKnown;
  PathIdentity archiveIdentity;
  Text archiveName;
};

int IsTheArchive(const WalkSettings& settings, const Text& name, const Text& path) {
  if (!settings.archiveKnown || LowerText(name) != LowerText(settings.archiveName)) return 0;
  PathIdentity identity;
  return GetPathIdentity(path, &identity) && SameIdentity(identity, settings.archiveIdentity);
}

void CollectEntries(const WalkSettings& settings, const Text& folderIn, FolderChain* chain) {
  intptr_t listing = OpenDirectoryListing(kAnyNumber, folderIn, "*.*");
  if (listing == 0) {
    // A folder too deep for its listing ("\*.*" appended) would drop out of
    // the count and of the archive alike, unseen; it is reported instead.
    int searchLength = folderIn.Length() + (IsPathSeparator(folderIn.Last()) ? 0 : 1) + 3;
    if (searchLength + 1 > kPathCapacity) RecordProblem(folderIn, kProblemUnreadable);
    return;
  }
  Text folder = folderIn;
  while (NextEntry(listing)) {
    if (!IsPathSeparator(folder.Last())) folder += kPathSeparator;
    Text name = EntryName(listing);
    Text path = folder + name;
    int isDirectory = EntryKind(listing) == kEntryDirectory;
    if (isDirectory) {
      if (name == "." && settings.nameMode > 0) AppendToList(&gEntries, folder, 0);
      if (settings.recurse && name != "." && name != "..") {
        // A folder whose name holds a separator (a "\" made on POSIX) cannot
        // be entered under that path; reported, or its files would vanish
        // from both counts without a word.
        if (LastSeparatorIndex(name, name.Length()) >= 0) {
          RecordProblem(path, kProblemBadName);
          continue;
        }
        // A link back to a folder the walk is inside of is not followed.
        if (EnterFolder(chain, path)) {
          CollectEntries(settings, path, chain);
          LeaveFolder(chain);
        }
      }
      continue;
    }
    if (IsTheArchive(settings, name, path)) continue;
    if (MatchNamePattern(BaseHalf(name), settings.patternBase) &&
        MatchNamePattern(ExtensionHalf(name), settings.patternExtension)) {
      AppendToList(&gEntries, path, 0);
    }
  }
  CloseDirectoryListing(listing);
}

// Entries of an existing archive: -1 when it is none, else its count.
int32_t CountArchiveEntries(const Text& path) {
  unzFile archive = unzOpen(path.c_str());
  if (archive == nullptr) return -1;
  unz_global_info info;
  int result = unzGetGlobalInfo(archive, &info);
  int32_t count = result == UNZ_OK ? (int32_t)info.number_entry : (int32_t)result;
  unzClose(archive);
  return count;
}

zipFile OpenArchiveForAdding(const Text& path) {
  int mode = CountArchiveEntries(path) > 0 ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE;
  return zipOpen(path.c_str(), mode);
}

// The time fields of an item: its last-write time, clamped into the years the
// MS-DOS date can hold; the 1970 fields of date value 0 when the time cannot
// be read (always for folder entries).
LocalTimeFields ItemTime(const Text& item) {
  LocalTimeFields fields;
  int32_t value = 0;
  LocalTimeFields found;
  if (GetFileModificationTime(item, &found)) {
    if (found.year < kFirstDosYear) {
      LocalTimeFields earliest = {kFirstDosYear, 1, 1, 0, 0, 0};
      found = earliest;
    } else if (found.year > kLastDosYear) {
      LocalTimeFields latest = {kLastDosYear, 12, 31, 23, 59, 58};
      found = latest;
    }
    value = DateValue(found.year, found.month, found.day, found.hour, found.minute,
                      found.second);
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
    name = StartsWithIgnoringCase(item, folder) ? item.Middle(folder.Length(), item.Length())
                                                : item;
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

// 1 when the part of the item below the folder can be created on Windows.
int HasPortableName(const Text& item, const Text& folder) {
  Text below = StartsWithIgnoringCase(item, folder) ? item.Middle(folder.Length(), item.Length())
                                                    : FileNamePart(item);
  int start = 0;
  for (int i = 0; i <= below.Length(); ++i) {
    if (i == below.Length() || below.At(i) == kPathSeparator) {
      if (!IsPortableNamePart(below.Middle(start, i - start))) return 0;
      start = i + 1;
    }
  }
  return 1;
}

// Deflates the file's data into the open entry. 1 when the whole file went in.
int WriteFileData(zipFile archive, const Text& item, int32_t chunkPauseMs) {
  intptr_t file = OpenFileForReading(kAnyNumber, item);
  if (file == 0) return 0;
  char* buffer = (char*)AllocateBlock(kReadChunkBytes);
  if (buffer == nullptr) {
    CloseFileNumber(file);
    return 0;
  }
  int writesOk = 1;
  int64_t total = 0;
  for (;;) {
    int32_t got = ReadBytes(file, buffer, kReadChunkBytes);
    if (got <= 0) break;
    total += got;
    // A file that grew past the format's limit while being read is cut off.
    if (total >= kMaxEntryBytes) {
      writesOk = 0;
      break;
    }
    if (zipWriteInFileInZip(archive, buffer, (unsigned)got) != ZIP_OK) writesOk = 0;
    if (chunkPauseMs > 0) PauseMilliseconds(chunkPauseMs);
    if (EndOfFile(file)) break;
  }
  // A read that stopped before the end is a failure, not a short file.
  int complete = writesOk && EndOfFile(file);
  FreeBlock(buffer);
  CloseFileNumber(file);
  return complete;
}

}  // namespace

void InitFolderArchiver() {
  EmptyList(&gEntries);
  EmptyList(&gProblems);
}

int32_t SetArchiverProgressCallback(ArchiverProgressCallback callback) {
  gCallback = callback;
  return 0;
}

void FreeFolderArchiver() {
  EmptyList(&gEntries);
  EmptyList(&gProblems);
}

int32_t ArchiverProblemCount() { return gProblems.count; }

Text ArchiverProblemPath(int32_t index) {
  if (index < 0 || index >= gProblems.count) return Text();
  return Text(gProblems.items[index]);
}

int32_t ArchiverProblemKind(int32_t index) {
  if (index < 0 || index >= gProblems.count) return 0;
  return gProblems.kinds[index];
}

int IsPortableNamePart(const Text& name) {
  for (int i = 0; i < name.Length(); ++i) {
    unsigned char c = (unsigned char)name.At(i);
    if (c < 0x20 || c == 0x7F) return 0;
    if (strchr("\\:*?\"<>|", c) != nullptr) return 0;
  }
  return !IsDeviceComponent(name, 0, name.Length());
}

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  uint32_t y = (uint32_t)year;
  if (y >= (uint32_t)kFirstDosYear) {
    y -= kFirstDosYear;
  } else if (y > 80) {
    y -= 80;  // the writer's rule for years counted from 1900
  }
  uint32_t date = y * 512 + (uint32_t)month * 32 + (uint32_t)day;
  uint32_t time = (uint32_t)hour * 2048 + (uint32_t)minute * 32 + (uint32_t)second / 2;
  return ((date & 0xFFFF) << 16) | (time & 0xFFFF);
}

int MatchNamePattern(const Text& textIn, const Text& patternIn) {
  Text text = LowerText(textIn);
  Text pattern = LowerText(patternIn);
  if (text == pattern) return 1;
  if (text.LastIndexOf('.') < 0) text += '.';
  const int textLength = text.Length();
  const int patternLength = pattern.Length();
  // Positions count from 1, as in the rule; TextAt(0) or beyond L is no char.
  int t = 1;
  int p = 0;
  int failed = 0;
  int star = 0;
  int matched = 0;
  while (p < patternLength && !matched) {
    ++p;
    char x = pattern.At(p - 1);
    if (x == '*') {
      if (p == patternLength) matched = 1;
      else star = 1;
    } else if (x == '|') {
      if (t == textLength + 1) matched = 1;
    } else if (x == '?') {
      if (t <= textLength) ++t;
      else failed = 1;
    } else {
      if (star) {
        star = 0;
        // A "*" before a literal takes at least one character.
        do {
          ++t;
        } while (t <= textLength && text.At(t - 1) != x);
      }
      if (t <= textLength && text.At(t - 1) == x) ++t;
      else failed = 1;
    }
    if (matched) break;
    if (!failed && t == textLength + 1 && p == patternLength) {
      matched = 1;
    } else if (failed) {
      int next = -1;
      for (int i = p + 1; i <= patternLength; ++i) {
        if (pattern.At(i - 1) == '|') {
          next = i;
          break;
        }
      }
      if (next < 0) break;
      p = next;
      failed = 0;
      star = 0;
      t = 1;
    }
  }
  return matched;
}

int32_t AddFolderToArchive(const Text& archivePath, const Text& folderAndPattern,
                           int32_t nameMode, int32_t recurse, int32_t chunkPauseMs) {
  EmptyList(&gProblems);
  zipFile archive = OpenArchiveForAdding(archivePath);
  if (archive == nullptr) {
    RecordProblem(archivePath, kProblemArchiveFailed);
    return 0;
  }

  int limit = folderAndPattern.Length();
  for (int i = 0; i < folderAndPattern.Length(); ++i) {
    if (folderAndPattern.At(i) == '|') {
      limit = i;
      break;
    }
  }
  int split = LastSeparatorIndex(folderAndPattern, limit);
  Text folder = folderAndPattern.Middle(0, split + 1);
  WalkSettings settings;
  settings.pattern = folderAndPattern.Middle(split + 1, folderAndPattern.Length());
  settings.patternBase = BaseHalf(settings.pattern);
  settings.patternExtension = ExtensionHalf(settings.pattern);
  if (settings.pattern == "*.*") {
    settings.patternBase = "*";
    settings.patternExtension = "*";
  }
  settings.nameMode = nameMode;
  settings.recurse = recurse;
  settings.archiveKnown = GetPathIdentity(archivePath, &settings.archiveIdentity);
  settings.archiveName = FileNamePart(archivePath);

  EmptyList(&gEntries);
  FolderChain chain;
  InitFolderChain(&chain);
  Text walkRoot = folder;
  if (EnterFolder(&chain, walkRoot)) {
    CollectEntries(settings, walkRoot, &chain);
    LeaveFolder(&chain);
  }
  FreeFolderChain(&chain);

  int32_t added = 0;
  const int32_t total = gEntries.count;
  if (total > 0) {
    for (int32_t i = 0; i < total; ++i) {
      Text item(gEntries.items[i]);
      int isFolderEntry = IsPathSeparator(item.Last());
      LocalTimeFields when = ItemTime(item);
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
      info.dosDate = DosDateTime(when.year, when.month, when.day, when.hour, when.minute,
                                 when.second);
      Text stored = StoredName(item, folder, nameMode);

      if (gCallback != nullptr) {
        gCallback(item, (float)((double)added / (double)total * 100.0));
      }

      if (!HasPortableName(item, folder)) {
        RecordProblem(item, kProblemBadName);
        continue;
      }
      int64_t size = PathSize(item);
      if (size >= kMaxEntryBytes) {
        RecordProblem(item, kProblemTooLarge);
        continue;
      }
      if (zipOpenNewFileInZip(archive, stored.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, kCompressionLevel) != ZIP_OK) {
        RecordProblem(item, kProblemEntryFailed);
        continue;
      }
      int whole = 0;
      if (size == 0) {
        whole = 1;
      } else if (size > 0) {
        whole = WriteFileData(archive, item, chunkPauseMs);
        if (!whole) RecordProblem(item, kProblemUnreadable);
      } else if (!isFolderEntry) {
        RecordProblem(item, kProblemUnreadable);  // vanished since the walk
      }
      if (zipCloseFileInZip(archive) != ZIP_OK) {
        if (whole || isFolderEntry) RecordProblem(item, kProblemArchiveFailed);
        whole = 0;
      }
      if (whole && !isFolderEntry) ++added;
    }
    if (gCallback != nullptr) gCallback(Text(""), 100.0f);
  }
  EmptyList(&gEntries);
  if (zipClose(archive, nullptr) != ZIP_OK) RecordProblem(archivePath, kProblemArchiveFailed);
  return added;
}
