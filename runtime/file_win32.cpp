// Win32 back end of the file service: CreateFileA, ReadFile, WriteFile,
// GetFileSize, CloseHandle and DeleteFileA; PathSize through GetDriveTypeA and
// FindFirstFileA; the temporary folder from GetTempPathA and GetLongPathNameA.
#include <windows.h>

#include "runtime/file.h"
#include "runtime/file_native.h"
#include "runtime/wide_path_win32.h"

extern const int kNamesAreUtf8 = 0;
extern const char kPathSeparator = '\\';
extern const int32_t kSystemPathBytes = 3 * kExtendedPathCapacity + 1;

namespace {

HANDLE ToHandle(NativeFile file) { return reinterpret_cast<HANDLE>(file); }

NativeFile FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<NativeFile>(handle);
}

typedef DWORD(WINAPI* LongPathNameProcedure)(LPCSTR shortPath, LPSTR longPath, DWORD capacity);

}  // namespace

namespace {

// CreateFileA on an ANSI path, CreateFileW on an extended one (wide_path_win32.h);
// INVALID_HANDLE_VALUE also for a path that does not fit or convert.
HANDLE OpenPath(const Text& path, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (IsExtendedPath(path)) {
    wchar_t* wide = WidePathOf(path, 0);
    if (wide != nullptr) {
      handle = CreateFileW(wide, access, share, nullptr, disposition, attributes, nullptr);
    }
    FreeWidePath(wide);
    return handle;
  }
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return handle;
  return CreateFileA(name, access, share, nullptr, disposition, attributes, nullptr);
}

}  // namespace

NativeFile NativeOpenForReading(const Text& path) {
  return FromHandle(
      OpenPath(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
}

NativeFile NativeCreateForWriting(const Text& path) {
  HANDLE handle =
      OpenPath(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) {
    // CREATE_ALWAYS refuses some existing files (hidden or system ones)
    // that can still be emptied in place.
    handle = OpenPath(path, GENERIC_WRITE, FILE_SHARE_READ, TRUNCATE_EXISTING, 0);
  }
  return FromHandle(handle);
}

NativeFile NativeCreateNew(const Text& path) {
  // CREATE_NEW fails on any existing name, a link or junction included.
  // Shared for deleting, so that a program ending while the file is being
  // written can still remove it.
  return FromHandle(OpenPath(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL));
}

NativeFile NativeOpenForOverwriting(const Text& path) {
  // The name itself is opened, a reparse point too, without emptying it.
  HANDLE handle =
      OpenPath(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  // Looked at through the handle, so that no file put under the name
  // meanwhile can answer, and emptied only then.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks != 1 || !SetEndOfFile(handle)) {
    CloseHandle(handle);
    return 0;
  }
  return FromHandle(handle);
}

int32_t NativeRead(NativeFile file, void* destination, int32_t length) {
  DWORD got = 0;
  if (!ReadFile(ToHandle(file), destination, static_cast<DWORD>(length), &got, nullptr)) return 0;
  return static_cast<int32_t>(got);
}

int32_t NativeWrite(NativeFile file, const void* source, int32_t length) {
  DWORD put = 0;
  if (!WriteFile(ToHandle(file), source, static_cast<DWORD>(length), &put, nullptr)) return 0;
  return static_cast<int32_t>(put);
}

int64_t NativeFileSize(NativeFile file) {
  DWORD high = 0;
  DWORD low = GetFileSize(ToHandle(file), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return (static_cast<int64_t>(high) << 32) | low;
}

int NativeSeek(NativeFile file, int64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD low =
      SetFilePointer(ToHandle(file), static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
  return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

void NativeClose(NativeFile file) { CloseHandle(ToHandle(file)); }

int NativeFileIdentity(NativeFile file, PathIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(ToHandle(file), &info)) return 0;
  identity->volume = info.dwVolumeSerialNumber;
  identity->object = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return 1;
}

int NativeFileState(NativeFile file, FileState* state) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(ToHandle(file), &info)) return 0;
  state->identity.volume = info.dwVolumeSerialNumber;
  state->identity.object = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  state->size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  // Windows keeps no change time that a program could not set: the last
  // write stands for both.
  state->writeTime = NanosecondsOfFileTime(info.ftLastWriteTime);
  state->changeTime = state->writeTime;
  return 1;
}

int NativeMarkInUse(NativeFile) {  // open files stay unless shared for removal
  return 1;
}

int RemoveFileLeftBehind(const Text&) {  // left to the user
  return 0;
}

void NativeAwaitWrites(NativeFile) {
  // Files are read without sharing writes: no one else writes them while
  // they are open.
}

int RemoveFile(const Text& path) {
  if (IsExtendedPath(path)) {
    wchar_t* wide = WidePathOf(path, 0);
    int removed = wide != nullptr && DeleteFileW(wide) ? 1 : 0;
    FreeWidePath(wide);
    return removed;
  }
  char name[kPathCapacity];
  if (!CopyPathToBuffer(path, name)) return 0;
  return DeleteFileA(name) ? 1 : 0;
}

int RemoveOwnPlainFile(const Text& path) {
  // The name itself is looked at: a reparse point (a link or a junction) is
  // never followed, and a folder is no file.
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (IsExtendedPath(path)) {
    wchar_t* wide = WidePathOf(path, 1);
    if (wide != nullptr) attributes = GetFileAttributesW(wide);
    FreeWidePath(wide);
  } else {
    char name[kPathCapacity];
    if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
    attributes = GetFileAttributesA(name);
  }
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return 0;
  }
  return RemoveFile(path);
}

int RemoveFileAtSystemPath(const char* systemPath) {
  return systemPath != nullptr && RemoveFile(Text(systemPath));
}

int64_t PathSize(const Text& path) {
  if (IsExtendedPath(path)) {
    wchar_t* wide = WidePathOf(path, 1);
    WIN32_FILE_ATTRIBUTE_DATA facts;
    int found = wide != nullptr && GetFileAttributesExW(wide, GetFileExInfoStandard, &facts);
    FreeWidePath(wide);
    if (!found) return -1;
    if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
    return (static_cast<int64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  }
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return -1;
  int length = path.Length();

  // A drive root ("C:" or "C:\") cannot be searched for; ask for its drive.
  if ((length == 2 || length == 3) && name[1] == ':') {
    char root[4] = {name[0], ':', length == 3 ? name[2] : '\\', 0};
    return GetDriveTypeA(root) > DRIVE_NO_ROOT_DIR ? -2 : -1;
  }

  if (name[length - 1] == '\\') name[length - 1] = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(name, &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  FindClose(search);
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
  return (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

Text TempDirectory() {
  char name[kPathCapacity];
  // Both calls return the size they would need when the buffer is too small:
  // such a path is refused, never cut short.
  DWORD length = GetTempPathA(kPathCapacity, name);
  if (length == 0 || length >= static_cast<DWORD>(kPathCapacity)) return Text();

  // Older systems lack GetLongPathNameA, so it is looked up, not linked.
  HMODULE kernel = GetModuleHandleA("Kernel32.DLL");
  FARPROC found = kernel ? GetProcAddress(kernel, "GetLongPathNameA") : nullptr;
  if (found) {
    LongPathNameProcedure longPathName =
        reinterpret_cast<LongPathNameProcedure>(reinterpret_cast<void*>(found));
    length = longPathName(name, name, kPathCapacity);
    if (length == 0 || length >= static_cast<DWORD>(kPathCapacity)) return Text();
  }

  Text folder(name, static_cast<int>(length));
  if (folder.Last() != '\\') {
    if (folder.Length() + 2 > kPathCapacity) return Text();
    folder += '\\';
  }
  return folder;
}
