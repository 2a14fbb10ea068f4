// The archive reader: opens a ZIP archive, a plain one or the payload of an
// output file behind its stub image, walks its entries and writes them below
// a destination folder. One archive is open at a time; the reader state is
// module-wide and belongs to the one thread that extracts.
//
// Its principle: on an archive of stored and deflated entries that 7-Zip
// tests as clean, the reader is never stricter than 7-Zip. It reads Zip64
// sizes and offsets, folders marked only by the MS-DOS directory attribute,
// and entries whose local header carries another name than the central
// record (it extracts under the central name, or the Unicode Path extra
// field's name when that field matches). Its own refusals are about safety:
// damage, other methods, encryption, names and links.
//
// Results: 0 for success and negative codes for failures. minizip's codes
// pass through unchanged (-100 end of the entry list, -102 bad parameter,
// -103 bad archive, -104 internal error, -105 CRC mismatch, -1 read error,
// zlib's negative codes from inflating); the reader adds its own below.
#ifndef VEZOVUD_ARCHIVE_ARCHIVE_READER_H
#define VEZOVUD_ARCHIVE_ARCHIVE_READER_H

#include <stdint.h>

#include "archive/central_directory.h"
#include "runtime/file_info.h"
#include "runtime/text.h"

const int kReaderOk = 0;
// No archive open, no data read, no memory, output file not created.
const int kReaderFailed = -1;
const int kReaderEndOfEntries = -100;
const int kReaderCrcMismatch = -105;
// The name would land outside the destination ("..", absolute, drive, ":").
const int kReaderUnsafeName = -201;
// Destination and name together do not fit the system's paths.
const int kReaderNameTooLong = -202;
// Writing the entry's data, or putting the file in place, failed.
const int kReaderWriteFailed = -203;
// The entry yielded fewer bytes than its declared size.
const int kReaderDataShort = -204;
// Neither stored (0) nor deflated (8): its bytes are never passed through.
const int kReaderUnsupportedMethod = -205;
const int kReaderEncrypted = -206;
// A folder or the target below the destination is a link (a junction or
// symbolic link on Windows): nothing is written through it.
const int kReaderLinkInPath = -207;
// A file stands where the entry needs a folder.
const int kReaderNotAFolder = -208;
// The entry's central record and what minizip reads of it disagree.
const int kReaderDamagedEntry = -209;
// The name is flagged as UTF-8 but is not.
const int kReaderBadName = -210;

// Bytes inflated and written per step; an entry never needs more memory
// than this, whatever size it declares.
const int kInflateChunkBytes = 65536;

// The archive's global information: its number of entries and the length
// of its comment.
struct ArchiveGlobalInfo {
  uint32_t entryCount;
  uint32_t commentBytes;
};

// What the central directory says about the current entry. The time is the
// one stored (DOS date and time), on the local wall clock; its month is 0 or
// above 12 when the stored date is damaged.
struct ArchiveEntryInfo {
  Text name;  // the stored name, byte for byte (or the Unicode Path field's)
  uint64_t size;
  uint64_t compressedSize;
  uint32_t crc;
  LocalTimeFields time;
  int isFolder;  // a name ending in "\" or "/", or the MS-DOS directory attribute
  int utf8Name;  // the name is UTF-8: general-purpose bit 11, or a Unicode Path field
};

// Opens the archive in the file at path, closing an archive that is open
// first, and makes its first entry current. The archive is found from its
// end-of-central-directory record within the last searchBytes bytes of the
// file (kStubSearchBytes or kWideSearchBytes), so any number of bytes in
// front of it is fine, and so is a 4-byte trailer behind it, even one whose
// bytes spell the record's signature. The whole central directory is checked
// first (central_directory.h), and minizip must then read every record where
// the check found it. 0 when the archive is open; else a kCatalogue
// result: kCatalogueNoArchive when there is none, the others for damage.
int OpenArchiveChecked(const Text& path, int32_t searchBytes);

// OpenArchiveChecked with the stub's search window. Returns the read handle
// (nonzero), or 0 when the file holds no readable archive.
intptr_t OpenArchiveForReading(const Text& path);

// Fills info with the number of entries the central directory really holds
// (also past 65,535) and the comment's length. -1 with no archive open.
int GetArchiveInfo(ArchiveGlobalInfo* info);

// Makes the first entry current: 0; -1 with no archive open; -100 for an
// archive without entries.
int GoToFirstEntry();

// Makes the next entry current: 0, -100 at the last entry (which stays
// current), -1 with no archive open.
int GoToNextEntry();

// Fills info for the current entry: 0, -1 with no archive open, or
// minizip's code when the entry cannot be read.
int GetCurrentEntryInfo(ArchiveEntryInfo* info);

// Writes the current entry below destination (a final "\" is added when
// missing); the destination and its missing parents are made first, for
// every entry. The destination itself may be a link (the user chose it);
// below it nothing is written through a link, and folders are made one by
// one, each checked. keepFolders 1 recreates the stored folders, 0 writes every
// file straight into the destination. An entry of size 0 whose cleaned name
// ends in "\" (or is empty) is a folder: with keepFolders 1 it creates that
// folder, and never a file. Any other entry of size 0 is an empty file,
// written by the same rules as every file.
//
// A file whose target does not exist yet is created exclusively under its
// own name and inflated into it in chunks; it is removed again unless the
// data came out whole with the right CRC. An existing target is replaced
// only by a whole entry, through a new file beside it; otherwise that file
// is removed and the target stays as it was. When the target cannot be
// replaced (read-only or locked), it is written over in place, unless it is
// a link or has another name too (a hard link). Its last-write time is then
// set from the stored date and time with the seconds at 0, when those are a
// valid date from 1980 to 2107.
//
// Only stored and deflated entries are written, never encrypted ones, and
// every file's CRC is checked. A folder entry whose path is a file fails.
//
// 0 on success; -1 (no archive open, no data, no memory, output file not
// created), one of the kReader codes above, -105 (CRC mismatch) or
// minizip's and zlib's codes. The current entry stays current.
int ExtractCurrentEntry(const Text& destination, int keepFolders);

// Extraction with writer threads (extraction.h): the reader stays on one
// thread and hands small new files, inflated and checked in memory, to
// threads that create and write them, since creating a file costs the
// system far more than inflating a small one.
struct HandedOffFile {
  Text target;          // the path to create (exclusively)
  unsigned char* data;  // size bytes from AllocateBlock; null when size is 0
  int64_t size;
  int year, month, day, hour, minute;  // the stored date and time
};

// Asked with each entry's target path before anything is made for it, and
// for a target that exists, with each name its part file may take. Nonzero
// means a handed-off file not yet written could meet it (the same path, or
// one inside the other), so those must be written first.
typedef int (*TargetCheck)(void* context, const Text& target);

// check asked for the files handed off so far to be written first; the
// entry stays current, untouched, and may be extracted again.
const int kReaderWritersFirst = -211;

// ExtractCurrentEntry with keepFolders 1, except that a file of at most
// memoryLimit bytes whose target does not exist is inflated and checked in
// memory and handed back in *file (*handedOff 1) for WriteHandedOffFile,
// instead of being written. Everything else is done here as
// ExtractCurrentEntry does it (*handedOff 0).
int ExtractOrHandOffCurrentEntry(const Text& destination, int64_t memoryLimit, TargetCheck check,
                                 void* context, HandedOffFile* file, int* handedOff);

// Writes a handed-off file on any thread: creates its target exclusively,
// writes the data, checks the size on disk and sets the write time; on a
// failure removes what it created. Frees the data. Touches no reader state.
// 0, kReaderFailed (not created: something is there now) or
// kReaderWriteFailed.
int WriteHandedOffFile(HandedOffFile* file);

// Inflates the current entry and checks its size and CRC, writing nothing.
// 0 when whole and correct; else a result as for ExtractCurrentEntry.
int TestCurrentEntry();

// Closes the open archive, if any. Always 0.
int CloseArchive();

// Removes the file of the entry being written, if there is one: its part
// file, or the new target it is creating (never a file that was there
// before). For a program that ends while an extraction runs on another
// thread. Any thread. Files handed to writer threads are not covered.
void RemovePartFileInProgress();

// Sets the last-write time of the file at path to the given local date and
// time with the seconds at 0. Dates that are no valid calendar date, or lie
// outside 1980..2107 (what a stored DOS date can say), leave the file's time
// alone. 1 when the time was set, else 0.
int SetFileModificationTime(const Text& path, int year, int month, int day, int hour, int minute);

// A short English description of a result, for messages ("CRC mismatch").
Text ReaderResultText(int result);

#endif
