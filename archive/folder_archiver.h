// The Folder archiver: turns one folder into one ZIP archive through minizip,
// deflating every file at level 9 in 102,400-byte chunks and reporting
// progress through one process-wide callback. It owns the process-wide entry
// list, the callback slot and the list of problems found by the last run.
#ifndef VEZOVUD_ARCHIVE_FOLDER_ARCHIVER_H
#define VEZOVUD_ARCHIVE_FOLDER_ARCHIVER_H

#include <stdint.h>

#include "runtime/text.h"

const int32_t kReadChunkBytes = 102400;  // file data handed to minizip per call
const int32_t kMakerChunkPauseMs = 10;   // the Maker's pause after every chunk
const int32_t kCompressionLevel = 9;
// Files of this size or more do not fit the archive's 32-bit size fields
// (0xFFFFFFFF itself marks a ZIP64 value), so they are never added.
const int64_t kMaxEntryBytes = 0xFFFFFFFFLL;

// nameMode values: how stored names are formed.
const int32_t kNameFileOnly = 0;  // the file name alone
const int32_t kNameFullPath = 1;  // the path as found
const int32_t kNameRelative = 2;  // the path relative to the folder

// Receives the path of the item about to be stored and the share of files
// finished, 0.0 to 100.0. Its result is ignored.
typedef int32_t (*ArchiverProgressCallback)(const Text& fileName, float percent);

// Creates the empty entry list. Call once before anything else here.
void InitFolderArchiver();

// Stores callback (null: no reports) in the process-wide slot; returns 0.
// Call only while no run is active.
int32_t SetArchiverProgressCallback(ArchiverProgressCallback callback);

// Receives the bytes of file data stored so far and the bytes the run
// stores in all, after each chunk; totalBytes is 0 when not known.
typedef void (*ArchiverBytesCallback)(int64_t doneBytes, int64_t totalBytes);

// Stores callback (null: no reports) beside the progress callback. Call only
// while no run is active.
void SetArchiverBytesCallback(ArchiverBytesCallback callback);

// linkMode values: which links the walk follows.
const int32_t kLinksWithinFolder = 0;  // a link leading outside the folder is refused
const int32_t kLinksFollowAll = 1;     // every link is followed (the Maker's way)

// ZIP end records give entry counts 16 bits; from this count on, the archive
// carries the Zip64 end records that hold the true count.
const int64_t kZip64EntryCount = 0xFFFF;

// Writes a new archive at archivePath, always created afresh (an existing
// file of that name is emptied, never added to), from the folder and pattern
// in folderAndPattern: the folder is the text up to and including its last
// "\" or "/" (before any "|"), the pattern what follows. nameMode as above;
// folder entries go in for nameMode > 0. recurse non-zero descends into
// subfolders, except links back into a folder the walk is already inside
// of, and the archive file itself is never listed. linkMode as above; a
// dangling link is refused either way. The walk holds each folder it is in
// and looks at what lies inside through it (archive/folder_walk.h): a folder
// swapped for a link meanwhile is kProblemChanged, never entered. A file is
// read only while its name still reaches the very file the walk listed
// there; another file put in its place since, or one reached through a
// folder swapped for a link, is kProblemChanged. So is a file whose size,
// last-write or change time differ after the reading from before it, as its
// data would be torn; the state before is taken through the open file once
// no write is under way and the file has been left alone a while
// (runtime/file_info.h, GetOpenFileState). chunkPauseMs: pause after every
// chunk (the Maker passes kMakerChunkPauseMs, the command line 0).
// With kZip64EntryCount entries or more, the Zip64 end records are put in
// front of the end record after minizip has closed the archive; smaller
// archives keep minizip's bytes exactly.
// Returns the number of regular files added whole; 0 when the archive cannot
// be opened (then no callback runs). Everything that did not go in whole is
// recorded in the problem list below.
int32_t AddFolderToArchive(const Text& archivePath, const Text& folderAndPattern, int32_t nameMode,
                           int32_t recurse, int32_t chunkPauseMs, int32_t linkMode);

// AddFolderToArchive without pauses, with up to workers threads (at most
// kMaxDeflateWorkers, archive/parallel_deflate.h) deflating whole files
// while this thread writes their entries in list order: the archive comes
// out byte for byte as AddFolderToArchive writes it, callbacks and problems
// in the same order, except that a file found wanting gets no entry at all.
// Memory stays bounded at any file size: a deflated stream that outgrows its
// share goes through a spill file beside archivePath (its name followed by
// "-" and the item's index), created exclusively and removed again in every
// case, so archivePath belongs in a folder no one else writes to. With
// workers 1, or when no thread can be started, the files are deflated one
// by one on this thread.
int32_t AddFolderToArchiveInParallel(const Text& archivePath, const Text& folderAndPattern,
                                     int32_t nameMode, int32_t recurse, int32_t linkMode,
                                     int32_t workers);

// Walks the folder of folderAndPattern as AddFolderToArchive would, with
// the same arguments, and checks every item it would store as that run
// would, without reading any data: names and their Windows rules (with
// folder entries each folder's own name once, at its entry), case twins,
// links, kinds, whether each folder can be listed and each file opened, and
// files of 4 GiB or more. Each item found wanting goes into the problem
// list once (emptied first). Returns the number of files listed; *bytes is
// their data in all, which the next run hands the bytes callback as its
// total. Problems that only reading finds (a file that changes or fails
// midway) are left to the run.
int32_t CheckFolderForArchive(const Text& folderAndPattern, int32_t nameMode, int32_t recurse,
                              int32_t linkMode, int64_t* bytes);

// The most threads a check opens its files on.
const int32_t kMaxCheckThreads = 4;

// CheckFolderForArchive opens the listed files on this many threads (1, the
// start state, up to kMaxCheckThreads), until set again: the verdicts and
// their order are the same with any count.
void SetArchiverCheckThreads(int32_t threads);

// keep 1: a CheckFolderForArchive that finds no problem keeps the list its
// walk made, and the next AddFolderToArchive or AddFolderToArchiveInParallel
// of the same folder with the same arguments stores those items instead of
// walking again (each file still has to be the one listed when it is
// opened); any other run, check or FreeFolderArchiver drops the list. The
// archive must then lie outside the folder, where the check's walk could
// not meet it. keep 0 (the start state): every run walks.
void KeepCheckedWalk(int keep);

// Items that every later walk leaves out, until FreeFolderArchiver: each
// pattern (alternatives split by "|", each one a pattern of its own) is
// matched with MatchPathPattern (archive/name_pattern.h), letters compared
// as Windows compares names, "\" taken for "/". A pattern without "/"
// matches an item's own name at any depth; one with "/" (or starting with
// "./") matches the item's whole path below the folder, its parts joined by
// "/", where "*" takes "/" too. A trailing "/" matches folders only. A folder
// left out is not entered. 1 when stored; 0 when memory was short, and then
// nothing is left out.
int32_t SetArchiverExclusions(const Text* patterns, int32_t count);

// Stores every time later than newestTime, a count of seconds since
// 1970-01-01 UTC, as newestTime (-1: times as found), until
// FreeFolderArchiver.
void SetArchiverNewestTime(int64_t newestTime);

// Empties the entry list and the problem list, and forgets the exclusions
// and the newest time.
void FreeFolderArchiver();

// Why an item of the last run did not go in whole. An item found wanting
// before its entry is opened is not stored; one whose data fail midway leaves
// its entry cut short, so an archive with problems is no archive to ship.
enum ArchiverProblem {
  kProblemUnreadable = 1,        // the file could not be opened or read
  kProblemTooLarge = 2,          // 4 GiB or more
  kProblemBadName = 3,           // a name Windows cannot hold
  kProblemEntryFailed = 4,       // minizip refused the entry
  kProblemArchiveFailed = 5,     // the archive could not be completed; path is the archive
  kProblemFolderUnreadable = 6,  // a folder could not be listed (or is too deep to list)
  kProblemSpecialFile = 7,       // a named pipe, socket or device: no data to store
  kProblemDanglingLink = 8,      // a link whose target cannot be reached
  kProblemLinkOutside = 9,       // a link that leads outside the folder (kLinksWithinFolder)
  kProblemChanged = 10,          // the file changed while it was read, or another file took its
                                 // name (or a link its folder's) after the walk listed it
  kProblemCaseTwin = 11,         // another name in its folder differs only in case
  kProblemTrailingDot = 12,      // the name ends in a dot or a space, which Windows drops
  kProblemNotUtf8 = 13           // the name is not UTF-8, as names stored from here must be
};

// The problems the last AddFolderToArchive recorded, in the order met.
// ArchiverProblemPath gives the item's full path (the empty text outside the
// list), ArchiverProblemKind its ArchiverProblem value (0 outside the list),
// ArchiverProblemReason the system's reason when a system call failed
// (runtime/system.h; 0 when none, and outside the list).
int32_t ArchiverProblemCount();
Text ArchiverProblemPath(int32_t index);
int32_t ArchiverProblemKind(int32_t index);
int32_t ArchiverProblemReason(int32_t index);

// The 32-bit MS-DOS date (high half) and time (low half) of the fields, as
// the archive stores them. Years from 1980 count from 1980; an earlier year
// after 80 loses 80 instead, as if counted from 1900, and the date keeps its
// low 16 bits (1970 gives date 0xC421).
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

#endif
