// Folder creation, file times, what a path names and where it leads, and
// private folders for temporary files: the file-system services beyond
// numbered files (file.h) and replacement (file_replace.h).
// Paths may use "\" or the platform's separator; paths longer than
// kPathCapacity fail, never cut short.
#ifndef VEZOVUD_RUNTIME_FILESYSTEM_H
#define VEZOVUD_RUNTIME_FILESYSTEM_H

#include "runtime/file_info.h"
#include "runtime/text.h"

// Creates every folder named along path up to its last separator, the way a
// folder chain is made before a file is written into it: "a\b\c" creates
// "a" and "a\b"; "a\b\" creates the same two. Folders that exist already are
// kept. 1 when the last of those folders exists afterwards (also when path
// has no separator at all); 0 on failure or for a path that is too long.
// On POSIX LastSystemError (system.h) then says why: the first folder that
// could not be made, or something other than a folder under the last one's
// name (ENOTDIR).
int MakePath(const Text& path);

// 1 when path itself is a link, which is not followed: a symbolic link on
// POSIX; a reparse point (a symbolic link or a junction) on Windows. 0 for
// anything else, and when nothing of that name exists or the path is too
// long.
int IsLinkPath(const Text& path);

// What a path names, links followed.
const int kPathNothing = 0;  // nothing reachable: missing, a dangling link, no access
const int kPathFile = 1;     // a regular file
const int kPathFolder = 2;
const int kPathSpecial = 3;  // a named pipe, socket or device: no data to store

// One of the kPath values above for path (kPathNothing for a path that is
// too long). Windows has no special files in folders; there it never gives
// kPathSpecial.
int PathKind(const Text& path);

// What path itself names, a link not followed: kPathLink for a link (on
// Windows any reparse point, a junction too), else as PathKind. One look at
// the file system.
const int kPathLink = 4;
int OwnPathKind(const Text& path);

// Which kind of special file path leads to, links followed, for messages
// that name it; 0 for anything else, also when nothing is there. Windows
// has no special files in folders: always 0.
const int kSpecialFifo = 1;
const int kSpecialSocket = 2;
const int kSpecialCharacterDevice = 3;
const int kSpecialBlockDevice = 4;
int SpecialPathKind(const Text& path);

// The absolute path that path reaches, every link resolved and "." and ".."
// gone, with no trailing separator (except for a root such as "/" or "C:").
// The empty text when path cannot be reached or the result would not fit
// kPathCapacity.
Text ResolvedPath(const Text& path);

// A folder for temporary files that no other user can write to or look
// into, made inside parent (which ends in a separator), ending in the
// separator. POSIX: a new folder made with mkdtemp, mode 0700, named
// "vezovud-" and six random characters, so that another local user cannot
// plant or swap files in it; Windows: parent itself, the user's own
// temporary folder, which is private to the user already, when it is a
// folder that exists. The empty text when no folder could be made (the
// system's reason stays for LastSystemError, system.h).
Text MakePrivateFolder(const Text& parent);

// Removes a folder that MakePrivateFolder made, once it is empty. Windows:
// does nothing (the folder is the user's temporary folder). 1 when the
// folder is gone, or on Windows; 0 on failure.
int RemovePrivateFolder(const Text& folder);

// Debris: what a run leaves behind when an interrupt ends it midway, noted
// in advance so that the interrupt procedure (process.h) can remove it with
// the names it has ready. kDebrisSlots names at a time.
const int32_t kDebrisFile = 1;
const int32_t kDebrisPrivateFolder = 2;  // a folder MakePrivateFolder made
const int32_t kDebrisSlots = 4;

// Notes path as debris of kind. Returns the slot, or -1 when no slot is
// free or the path does not fit kPathCapacity. Note a name only once the
// thing exists, between HoldInterrupts(1) and HoldInterrupts(0) (process.h)
// with its creation, so that no interrupt finds it made but not noted.
int32_t NoteDebris(const Text& path, int32_t kind);

// Frees the slot once its thing is gone (or kept on purpose).
void ForgetDebris(int32_t slot);

// Removes every noted thing: a file; a private folder with the files in it,
// then itself, trying again while files still appear in it (threads of the
// run may be creating them), a few times at most. Windows, where the private
// folder is the user's temporary folder: that folder and its files stay.
// Safe inside an interrupt procedure: no memory is allocated and no lock
// taken.
void RemoveDebrisNow();

// Where an archive entry is created below folder (the destination, ending
// in a separator, in the system's encoding). relative is the entry's cleaned
// and checked name, "\" between its components; utf8 says whether it is
// UTF-8, else it is in the ANSI code page it was written with.
// - POSIX: folder + the name with "/" between its components; a name that
//   is not UTF-8 is decoded from Windows-1252, the code page the Maker most
//   often writes with.
// - Windows: folder + the name for an ANSI name that fits kPathCapacity,
//   each component without its trailing dots and spaces (Windows drops them
//   from the last component of a path only, so a folder "a.." or "a " would
//   be made as one folder and written into as another). Otherwise an
//   extended path: "\\?\", the folder's full path and the name, all in
//   UTF-8 ("\" the only separator, no "." components, no trailing dots and
//   spaces, which the system would otherwise have dropped), up to
//   kExtendedPathCapacity characters.
// *base receives the folder in the same form, so that base + the rest of
// the result is the name. The empty text when the result does not fit or
// cannot be converted.
Text LandingPath(const Text& folder, const Text& relative, int utf8, Text* base);

// Sets the last-write time of the existing file at path to fields, read on
// the local wall clock. Windows converts with the time-zone bias in force now
// (LocalFileTimeToFileTime); POSIX with the rules
// in force at that date (mktime), so the two can differ by a daylight-saving
// hour for dates in the other season.
// The creation and last-access times stay. 1 on success; 0 when the file
// cannot be opened for writing, the fields are no valid date and time, or the
// system refuses the time. Years up to 9999 work; nothing breaks after 2037.
int SetFileWriteTime(const Text& path, const LocalTimeFields& fields);

// Has the local time zone's rules read once for the whole run. Where no TZ
// is set, glibc looks at /etc/localtime again for every time it converts
// with mktime, one system call and a process-wide lock for every file whose
// time is set; naming that same file in TZ keeps the rules it read. Call at
// start-up, before other threads. Windows: nothing to do.
void KeepLocalTimeZoneLoaded();

#endif
