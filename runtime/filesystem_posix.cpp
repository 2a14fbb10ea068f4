// POSIX back end of folder creation and file times: mkdir(2) along the path,
// mktime(3) for the local clock and utimensat(2) for the last-write time only;
// stat(2) and realpath(3) for what a path names, mkdtemp(3) for private
// folders, getdents64(2) and unlinkat(2) for debris, from a signal handler.
#include "runtime/filesystem.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "runtime/date.h"
#include "runtime/file.h"
#include "runtime/file_native.h"
#include "runtime/name_encoding.h"

namespace {

// 1 when name is a folder (links followed); else 0, with errno set to
// reason, the first failure of mkdir(2) that was not EEXIST, or to ENOTDIR
// when something else holds the name.
int FolderOrReason(const char* name, int reason) {
  struct stat facts;
  if (stat(name, &facts) == 0 && S_ISDIR(facts.st_mode)) return 1;
  errno = reason != 0 ? reason : ENOTDIR;
  return 0;
}

}  // namespace

int MakePath(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) {
    errno = ENAMETOOLONG;
    return 0;
  }
  int last = -1;
  for (int i = 0; name[i] != 0; ++i) {
    if (name[i] == '/') last = i;
  }
  if (last < 0) return 1;   // no folder named
  if (last == 0) return 1;  // the root
  // The deepest folder first: when its parent is there, as it mostly is,
  // one call does it. Only when a parent is missing are the prefixes, each
  // one folder of the chain, made from the top; those that exist already
  // make mkdir fail harmlessly.
  name[last] = 0;
  if (mkdir(name, 0777) == 0) return 1;
  if (errno != ENOENT) return FolderOrReason(name, errno == EEXIST ? 0 : errno);
  name[last] = '/';
  int reason = 0;
  for (int i = 1; i <= last; ++i) {
    if (name[i] != '/' || name[i - 1] == '/') continue;
    name[i] = 0;
    if (mkdir(name, 0777) != 0 && errno != EEXIST && reason == 0) reason = errno;
    name[i] = '/';
  }
  name[last] = 0;
  return FolderOrReason(name, reason);
}

Text LandingPath(const Text& folder, const Text& relative, int utf8, Text* base) {
  Text name = utf8 ? relative : Windows1252ToUtf8(relative);
  Text path = folder + ReplacedBytes(name, '\\', '/');
  *base = folder;
  if (path.Length() >= kPathCapacity) {
    *base = Text();
    return Text();
  }
  return path;
}

int IsLinkPath(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  // A final separator would make lstat look through the link.
  for (int end = static_cast<int>(strlen(name)) - 1; end > 0 && name[end] == '/'; --end)
    name[end] = 0;
  struct stat facts;
  return lstat(name, &facts) == 0 && S_ISLNK(facts.st_mode) ? 1 : 0;
}

int PathKind(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return kPathNothing;
  struct stat facts;
  if (stat(name, &facts) != 0) return kPathNothing;
  if (S_ISREG(facts.st_mode)) return kPathFile;
  if (S_ISDIR(facts.st_mode)) return kPathFolder;
  return kPathSpecial;
}

int OwnPathKind(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return kPathNothing;
  // A final separator would make lstat look through the link.
  for (int end = static_cast<int>(strlen(name)) - 1; end > 0 && name[end] == '/'; --end) {
    name[end] = 0;
  }
  struct stat facts;
  if (lstat(name, &facts) != 0) return kPathNothing;
  if (S_ISLNK(facts.st_mode)) return kPathLink;
  if (S_ISREG(facts.st_mode)) return kPathFile;
  if (S_ISDIR(facts.st_mode)) return kPathFolder;
  return kPathSpecial;
}

int SpecialPathKind(const Text& path) {
  char name[kPathCapacity];
  struct stat facts;
  if (path.IsEmpty() || !CopyPathToBuffer(path, name) || stat(name, &facts) != 0) return 0;
  if (S_ISFIFO(facts.st_mode)) return kSpecialFifo;
  if (S_ISSOCK(facts.st_mode)) return kSpecialSocket;
  if (S_ISCHR(facts.st_mode)) return kSpecialCharacterDevice;
  if (S_ISBLK(facts.st_mode)) return kSpecialBlockDevice;
  return 0;
}

Text ResolvedPath(const Text& path) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return Text();
  char resolved[PATH_MAX];
  if (realpath(name, resolved) == nullptr ||
      strlen(resolved) >= static_cast<size_t>(kPathCapacity)) {
    return Text();
  }
  return Text(resolved);
}

Text MakePrivateFolder(const Text& parent) {
  Text pattern = parent + "vezovud-XXXXXX";
  char name[kPathCapacity];
  // Room for the final separator that the result carries.
  if (pattern.Length() + 2 > kPathCapacity || !CopyPathToBuffer(pattern, name)) return Text();
  if (mkdtemp(name) == nullptr) return Text();
  return Text(name) + "/";
}

int RemovePrivateFolder(const Text& folder) {
  char name[kPathCapacity];
  if (folder.IsEmpty() || !CopyPathToBuffer(folder, name)) return 0;
  return rmdir(name) == 0 ? 1 : 0;
}

namespace {

// A noted name; kind 0 marks a free slot. The kind is set only once the path
// is complete, and cleared before the path is written again.
struct DebrisSlot {
  char path[kPathCapacity];
  volatile sig_atomic_t kind;
};

DebrisSlot gDebris[kDebrisSlots];

// A thread of the run may create a file in the folder between its listing
// and its removal; the folder is emptied again, this many times at most.
const int kFolderRemovalTries = 16;
const int kDirectoryBufferBytes = 4096;

// Removes the files in the folder at path (never through a link), then the
// folder. Uses only calls that are safe in a signal handler.
void RemoveFolderWithFiles(const char* path) {
  for (int attempt = 0; attempt < kFolderRemovalTries; ++attempt) {
    int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return;
    alignas(struct dirent64) char buffer[kDirectoryBufferBytes];
    for (;;) {
      ssize_t got = getdents64(folder, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += entry->d_reclen;
        const char* name = entry->d_name;
        bool dots = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
        if (!dots) unlinkat(folder, name, 0);
      }
    }
    close(folder);
    if (rmdir(path) == 0 || errno != ENOTEMPTY) return;
  }
}

}  // namespace

int32_t NoteDebris(const Text& path, int32_t kind) {
  if (kind != kDebrisFile && kind != kDebrisPrivateFolder) return -1;
  for (int32_t slot = 0; slot < kDebrisSlots; ++slot) {
    if (gDebris[slot].kind != 0) continue;
    char* name = gDebris[slot].path;
    if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return -1;
    // A final "/" would make the removal look through a link put in the
    // folder's place.
    for (size_t end = strlen(name); end > 1 && name[end - 1] == '/'; --end) name[end - 1] = 0;
    gDebris[slot].kind = kind;
    return slot;
  }
  return -1;
}

void ForgetDebris(int32_t slot) {
  if (slot >= 0 && slot < kDebrisSlots) gDebris[slot].kind = 0;
}

void RemoveDebrisNow() {
  int saved = errno;  // the interrupted code may still look at it
  for (int32_t slot = 0; slot < kDebrisSlots; ++slot) {
    if (gDebris[slot].kind == kDebrisFile) {
      unlink(gDebris[slot].path);
    } else if (gDebris[slot].kind == kDebrisPrivateFolder) {
      RemoveFolderWithFiles(gDebris[slot].path);
    }
  }
  errno = saved;
}

int SetFileWriteTime(const Text& path, const LocalTimeFields& fields) {
  char name[kPathCapacity];
  if (path.IsEmpty() || !CopyPathToBuffer(path, name)) return 0;
  if (fields.year < 1601 || fields.year > 9999 || fields.month < 1 || fields.month > 12 ||
      fields.day < 1 || fields.day > DaysInMonth(fields.year, fields.month) || fields.hour < 0 ||
      fields.hour > 23 || fields.minute < 0 || fields.minute > 59 || fields.second < 0 ||
      fields.second > 59) {
    return 0;
  }
  struct tm local = {};
  local.tm_year = fields.year - 1900;
  local.tm_mon = fields.month - 1;
  local.tm_mday = fields.day;
  local.tm_hour = fields.hour;
  local.tm_min = fields.minute;
  local.tm_sec = fields.second;
  local.tm_isdst = -1;  // let the zone's rules decide for that date
  time_t when = mktime(&local);
  if (when == (time_t)-1) return 0;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // last access stays
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  // A link put in the file's place after it was written gets the time
  // itself: the file it points at is never touched.
  return utimensat(AT_FDCWD, name, times, AT_SYMLINK_NOFOLLOW) == 0 ? 1 : 0;
}

void KeepLocalTimeZoneLoaded() {
  // ":" names a file of zone rules; the one glibc reads without TZ.
  if (getenv("TZ") == nullptr) setenv("TZ", ":/etc/localtime", 0);
}
