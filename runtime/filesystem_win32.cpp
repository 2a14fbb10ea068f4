// Win32 back end of folder creation and file times: CreateDirectoryA along
// the path, and SetFileTime with the local time turned into UTC by
// LocalFileTimeToFileTime (the bias in force now, as the system's own tools do);
// what a path names and where it leads through a handle opened on it, links
// followed; no private folder beyond the user's own temporary folder.
#include "runtime/filesystem.h"

#include <windows.h>

#include "runtime/file.h"
#include "runtime/file_native.h"
#include "runtime/name_encoding.h"
#include "runtime/wide_path_win32.h"

namespace {

// MakePath for an extended path: every folder after the root part.
int MakeExtendedPath(const Text& path) {
  wchar_t* wide = WidePathOf(path, 0);
  if (wide == nullptr) return 0;
  int last = -1;
  for (int i = 0; wide[i] != 0; ++i) {
    if (wide[i] == L'\\') last = i;
  }
  // "\\?\C:\" and "\\?\UNC\server\share\" cannot be made; trying is harmless.
  for (int i = 4; i <= last; ++i) {
    if (wide[i] != L'\\') continue;
    wide[i] = 0;
    CreateDirectoryW(wide, nullptr);
    wide[i] = L'\\';
  }
  wide[last + 1] = 0;
  DWORD attributes = GetFileAttributesW(wide);
  FreeWidePath(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

// The attributes of what an extended path names; INVALID_FILE_ATTRIBUTES
// when nothing.
DWORD ExtendedAttributes(const Text& path) {
  wchar_t* wide = WidePathOf(path, 1);
  DWORD attributes = wide != nullptr ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
  FreeWidePath(wide);
  return attributes;
}

// A relative name with the trailing dots and spaces of each component
// dropped, "\" between components, and at the end when the name ends in one.
//
// For an extended path, which the system takes as it stands (dropEmpty 1):
// also without empty or "." components, which an ordinary path would
// resolve away.
//
// For an ANSI path (dropEmpty 0), every separator kept: Windows drops the
// trailing dots and spaces from the last component of a path but keeps them,
// or all but one dot, in the folders before it. "a..\b" is written into
// "a.." or "a.", never into "a", the folder that MakePath made and
// OwnPathKind checked when they were handed "a.." as a last component, so a
// folder planted under the longer name would be written through unchecked.
// Trimmed, the name means one folder to every call. In a double-byte code
// page a "\" byte may be the second half of a character, but never one that
// follows a dot or a space, which are never halves.
Text TrimComponentEnds(const Text& relative, int dropEmpty) {
  Text trimmed;
  int start = 0;
  for (int i = 0; i <= relative.Length(); ++i) {
    if (i < relative.Length() && relative.At(i) != '\\') continue;
    int end = i;
    while (end > start && (relative.At(end - 1) == '.' || relative.At(end - 1) == ' ')) --end;
    if (end > start || !dropEmpty) {
      trimmed += relative.Middle(start, end - start);
      if (i < relative.Length()) trimmed += '\\';
    }
    start = i + 1;
  }
  return trimmed;
}

}  // namespace

Text LandingPath(const Text& folder, const Text& relative, int utf8, Text* base) {
  // An ANSI name that fits takes the ANSI path, as it always did.
  if (!utf8 && folder.Length() + relative.Length() < kPathCapacity) {
    *base = folder;
    return folder + TrimComponentEnds(relative, 0);
  }
  *base = Text();
  Text full;
  if (IsExtendedPath(folder)) {
    full = folder;
  } else {
    wchar_t* wide = WideTextOf(folder, CP_ACP);
    if (wide == nullptr) return Text();
    DWORD needed = GetFullPathNameW(wide, 0, nullptr, nullptr);
    wchar_t* absolute =
        needed > 0
            ? static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (needed + 1) * sizeof(wchar_t)))
            : nullptr;
    if (absolute != nullptr && GetFullPathNameW(wide, needed, absolute, nullptr) < needed) {
      full = Utf8TextOf(absolute);
    }
    if (absolute != nullptr) HeapFree(GetProcessHeap(), 0, absolute);
    FreeWidePath(wide);
    if (full.IsEmpty()) return Text();
    // "\\server\share" becomes "\\?\UNC\server\share"; "C:\x" "\\?\C:\x".
    if (full.At(0) == '\\' && full.At(1) == '\\') {
      full = Text("\\\\?\\UNC\\") + full.Middle(2, full.Length() - 2);
    } else {
      full = Text("\\\\?\\") + full;
    }
  }
  if (full.Last() != '\\') full += '\\';
  Text name = relative;
  if (!utf8) {
    wchar_t* wide = WideTextOf(relative, CP_ACP);
    if (wide == nullptr) return Text();
    name = Utf8TextOf(wide);
    FreeWidePath(wide);
  }
  Text path = full + TrimComponentEnds(name, 1);
  wchar_t* check = WidePathOf(path, 0);  // well-formed and within the capacity
  if (check == nullptr) return Text();
  FreeWidePath(check);
  *base = full;
  return path;
}

int MakePath(const Text& path) {
  if (IsExtendedPath(path)) return MakeExtendedPath(path);
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  int last = -1;
  for (int i = 0; name[i] != 0; ++i) {
    if (name[i] == '\\' || name[i] == '/') last = i;
  }
  if (last < 0) return 1;  // no folder named
  // Every prefix ending at a separator is tried; drive roots, UNC server
  // parts and folders that exist already simply fail to be created.
  for (int i = 1; i <= last; ++i) {
    char c = name[i];
    if (c != '\\' && c != '/') continue;
    name[i] = 0;
    CreateDirectoryA(name, nullptr);
    name[i] = c;
  }
  name[last + 1] = 0;
  DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int OwnPathKind(const Text& path) {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (IsExtendedPath(path)) {
    attributes = ExtendedAttributes(path);
  } else {
    char name[kPathCapacity];
    if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return kPathNothing;
    for (int end = lstrlenA(name) - 1; end > 2 && name[end] == '\\'; --end) name[end] = 0;
    attributes = GetFileAttributesA(name);
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return kPathNothing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kPathLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kPathFolder : kPathFile;
}

int IsLinkPath(const Text& path) {
  if (IsExtendedPath(path)) {
    DWORD attributes = ExtendedAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1
                                                                                                : 0;
  }
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  for (int end = lstrlenA(name) - 1; end > 0 && name[end] == '\\'; --end) name[end] = 0;
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? 1 : 0;
}

namespace {

// Opens what path reaches, a folder too, links followed, asking for no
// access, so that locked files can be looked at.
HANDLE OpenForFacts(const char* name) {
  return CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

int PathKind(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return kPathNothing;
  // The attributes of the name itself would describe a link, not its target.
  HANDLE object = OpenForFacts(name);
  if (object == INVALID_HANDLE_VALUE) return kPathNothing;
  BY_HANDLE_FILE_INFORMATION info;
  int ok = GetFileInformationByHandle(object, &info) != 0;
  CloseHandle(object);
  if (!ok) return kPathNothing;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kPathFolder : kPathFile;
}

Text ResolvedPath(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return Text();
  HANDLE object = OpenForFacts(name);
  if (object == INVALID_HANDLE_VALUE) return Text();
  Text result = FinalPathOfHandle(object, name);
  CloseHandle(object);
  return result;
}

int SpecialPathKind(const Text&) {  // no special files in folders
  return 0;
}

Text MakePrivateFolder(const Text& parent) {
  // The user's temporary folder is private already; it must be there.
  char name[kPathCapacity];
  if (parent.IsEmpty() || !CopyPathToBuffer(parent, name)) return Text();
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Text();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetLastError(ERROR_DIRECTORY);
    return Text();
  }
  return parent;
}

int RemovePrivateFolder(const Text&) {  // the user's own folder stays
  return 1;
}

namespace {

// A noted name; kind 0 marks a free slot.
struct DebrisSlot {
  char path[kPathCapacity];
  volatile LONG kind;
};

DebrisSlot gDebris[kDebrisSlots];

}  // namespace

int32_t NoteDebris(const Text& path, int32_t kind) {
  if (kind != kDebrisFile && kind != kDebrisPrivateFolder) return -1;
  for (int32_t slot = 0; slot < kDebrisSlots; ++slot) {
    if (gDebris[slot].kind != 0) continue;
    if (path.IsEmpty() || !CopyPathToBuffer(path, gDebris[slot].path)) return -1;
    InterlockedExchange(&gDebris[slot].kind, kind);
    return slot;
  }
  return -1;
}

void ForgetDebris(int32_t slot) {
  if (slot >= 0 && slot < kDebrisSlots) InterlockedExchange(&gDebris[slot].kind, 0);
}

void RemoveDebrisNow() {
  // The private folder is the user's temporary folder: only files go.
  for (int32_t slot = 0; slot < kDebrisSlots; ++slot) {
    if (gDebris[slot].kind == kDebrisFile) DeleteFileA(gDebris[slot].path);
  }
}

int SetFileWriteTime(const Text& path, const LocalTimeFields& fields) {
  char name[kPathCapacity];
  int extended = IsExtendedPath(path);
  if (path.IsEmpty() || (!extended && !CopyPathToBuffer(path, name))) return 0;
  if (fields.year < 1601 || fields.year > 9999) return 0;
  SYSTEMTIME parts = {};
  parts.wYear = static_cast<WORD>(fields.year);
  parts.wMonth = static_cast<WORD>(fields.month);
  parts.wDay = static_cast<WORD>(fields.day);
  parts.wHour = static_cast<WORD>(fields.hour);
  parts.wMinute = static_cast<WORD>(fields.minute);
  parts.wSecond = static_cast<WORD>(fields.second);
  FILETIME local;
  FILETIME universal;
  // SystemTimeToFileTime rejects fields that are no calendar date.
  if (!SystemTimeToFileTime(&parts, &local) || !LocalFileTimeToFileTime(&local, &universal)) {
    return 0;
  }
  HANDLE file = INVALID_HANDLE_VALUE;
  if (extended) {
    wchar_t* wide = WidePathOf(path, 0);
    if (wide != nullptr) {
      file = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    FreeWidePath(wide);
  } else {
    file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return 0;
  BOOL ok = SetFileTime(file, nullptr, nullptr, &universal);
  CloseHandle(file);
  return ok ? 1 : 0;
}

void KeepLocalTimeZoneLoaded() {}
