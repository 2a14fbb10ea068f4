// Win32 back end of directory listings over FindFirstFileA, FindNextFileA and
// FindClose. Entries come in the file system's own order, "." and ".."
// included. Held items are handles opened with FILE_FLAG_BACKUP_SEMANTICS,
// which opens folders too, kept with the path they were reached by: a held
// folder is listed under that path, which keeps leading to it since the
// handles along it share neither renaming nor removal.
#include <windows.h>

#include "runtime/directory.h"
#include "runtime/directory_native.h"
#include "runtime/file_native.h"
#include "runtime/filesystem.h"
#include "runtime/wide_path_win32.h"

namespace {

struct Search {
  HANDLE handle;
  WIN32_FIND_DATAA found;
  char folder[kPathCapacity];  // the folder searched, ending in "\", or empty
};

struct HeldItem {
  HANDLE handle;
  int32_t kind;
  char path[kPathCapacity];
};

Search* SearchOf(NativeListing listing) { return reinterpret_cast<Search*>(listing); }
HeldItem* HeldOf(intptr_t held) { return reinterpret_cast<HeldItem*>(held); }

// Opens name for holding, a reparse point itself unless followLink. Reading
// access without sharing deletion keeps a folder from being renamed or
// removed while it is held; a file that another program keeps from being
// read is opened with no access at all, which is enough to look at it.
HANDLE OpenToHold(const char* name, int followLink) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    handle = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, flags, nullptr);
  }
  return handle;
}

// Holds what name leads to; 0 on failure.
intptr_t Hold(const char* name, int followLink) {
  HANDLE handle = OpenToHold(name, followLink);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  HeldItem* held = static_cast<HeldItem*>(HeapAlloc(GetProcessHeap(), 0, sizeof(HeldItem)));
  if (held == nullptr || !GetFileInformationByHandle(handle, &info)) {
    if (held != nullptr) HeapFree(GetProcessHeap(), 0, held);
    CloseHandle(handle);
    return 0;
  }
  held->handle = handle;
  if (!followLink && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    held->kind = kPathLink;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    held->kind = kPathFolder;
  } else {
    held->kind = GetFileType(handle) == FILE_TYPE_DISK ? kPathFile : kPathSpecial;
  }
  lstrcpynA(held->path, name, kPathCapacity);
  return reinterpret_cast<intptr_t>(held);
}

}  // namespace

NativeListing NativeOpenListing(const char* search) {
  Search* found = static_cast<Search*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Search)));
  if (found == nullptr) return 0;
  // The folder is what comes before the pattern.
  int end = lstrlenA(search);
  while (end > 0 && search[end - 1] != '\\' && search[end - 1] != ':') end--;
  lstrcpynA(found->folder, search, end + 1);
  found->handle = FindFirstFileA(search, &found->found);
  if (found->handle == INVALID_HANDLE_VALUE) {
    HeapFree(GetProcessHeap(), 0, found);
    return 0;
  }
  return reinterpret_cast<NativeListing>(found);
}

NativeListing NativeOpenHeldListing(intptr_t folder) {
  char search[kPathCapacity];
  if (!BuildSearchPath(HeldOf(folder)->path, "*.*", search)) return 0;
  return NativeOpenListing(search);
}

bool NativeNextEntry(NativeListing listing) {
  Search* search = SearchOf(listing);
  return FindNextFileA(search->handle, &search->found) != 0;
}

int NativeEntryKind(NativeListing listing) {
  return (SearchOf(listing)->found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kEntryDirectory
                                                                                : kEntryFile;
}

int NativeEntryOwnKind(NativeListing listing) {
  DWORD attributes = SearchOf(listing)->found.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kPathLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kPathFolder : kPathFile;
}

Text NativeEntryName(NativeListing listing) {
  // cFileName is zero-terminated within its MAX_PATH characters; bounded anyway.
  const char* name = SearchOf(listing)->found.cFileName;
  int length = 0;
  while (length < MAX_PATH && name[length]) length++;
  return Text(name, length);
}

int NativeEntryIdentity(NativeListing listing, PathIdentity* identity) {
  Search* search = SearchOf(listing);
  char path[kPathCapacity];
  if (!CopyPathToBuffer(Text(search->folder) + NativeEntryName(listing), path)) return 0;
  // The name itself, a reparse point too, with no access asked for.
  HANDLE object = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (object == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  int ok = GetFileInformationByHandle(object, &info) != 0;
  CloseHandle(object);
  if (!ok) return 0;
  identity->volume = info.dwVolumeSerialNumber;
  identity->object = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return 1;
}

void NativeCloseListing(NativeListing listing) {
  Search* search = SearchOf(listing);
  FindClose(search->handle);
  HeapFree(GetProcessHeap(), 0, search);
}

intptr_t HoldPath(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  // "C:\" and "folder\" are held without their final separator, as
  // CreateFileA takes folders; a drive root keeps it.
  int length = lstrlenA(name);
  if (length > 3 && name[length - 1] == '\\') name[length - 1] = 0;
  return Hold(name, 1);
}

intptr_t HoldItemInFolder(intptr_t folder, const Text& name, int followLink) {
  if (folder == 0 || name.IsEmpty()) return 0;
  for (int i = 0; i < name.Length(); ++i) {
    if (name.At(i) == '\\' || name.At(i) == '/' || name.At(i) == 0) return 0;
  }
  Text base(HeldOf(folder)->path);
  if (base.Last() != '\\') base += '\\';
  char path[kPathCapacity];
  if (!CopyPathToBuffer(base + name, path)) return 0;
  return Hold(path, followLink);
}

int HeldItemKind(intptr_t held) { return held != 0 ? HeldOf(held)->kind : kPathNothing; }

int HeldItemIdentity(intptr_t held, PathIdentity* identity) {
  if (held == 0 || identity == nullptr) return 0;
  return NativeFileIdentity(reinterpret_cast<NativeFile>(HeldOf(held)->handle), identity);
}

Text HeldItemPath(intptr_t held) {
  if (held == 0) return Text();
  return FinalPathOfHandle(HeldOf(held)->handle, HeldOf(held)->path);
}

void ReleaseHeldItem(intptr_t held) {
  if (held == 0) return;
  CloseHandle(HeldOf(held)->handle);
  HeapFree(GetProcessHeap(), 0, HeldOf(held));
}
