// The archive reader: opens a ZIP archive, a plain one or the payload of an
// output file behind its stub image, walks its entries and writes them below
// a destination folder. One archive is open at a time; the reader state is
// module-wide and belongs to the one thread that extracts.
//
// Results: 0 for success and negative codes for failures. minizip's codes
// pass through unchanged (-100 end of the entry list, -102 bad parameter,
// -103 bad archive, -104 internal error, -105 CRC mismatch, -1 read error,
// zlib's negative codes from inflating); the reader adds its own below.
#ifndef VEZOVUD_ARCHIVE_ARCHIVE_READER_H
#define VEZOVUD_ARCHIVE_ARCHIVE_READER_H

#include <stdint.h>

#include "runtime/text.h"

const int kReaderOk = 0;
// No archive open, no data read, no memory, output file not created.
const int kReaderFailed = -1;
const int kReaderEndOfEntries = -100;
const int kReaderCrcMismatch = -105;
// The name would land outside the destination ("..", absolute, drive, ":").
const int kReaderUnsafeName = -201;
// Destination and name together do not fit kPathCapacity.
const int kReaderNameTooLong = -202;
// Writing the entry's data, or putting the file in place, failed.
const int kReaderWriteFailed = -203;
// The entry yielded fewer bytes than its declared size.
const int kReaderDataShort = -204;

// Bytes inflated and written per step; an entry never needs more memory
// than this, whatever size it declares.
const int kInflateChunkBytes = 65536;

// The archive's global information: its number of entries and the length
// of its comment.
struct ArchiveGlobalInfo {
  uint32_t entryCount;
  uint32_t commentBytes;
};

// What the central directory says about the current entry. The time fields
// are those stored (DOS date and time): year in full, month 1..12 (0 or above
// 12 when the stored date is damaged), day, hour, minute, second.
struct ArchiveEntryInfo {
  Text name;  // the stored name, byte for byte
  uint32_t size;
  uint32_t compressedSize;
  uint32_t crc;
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

// Opens the archive in the file at path, closing an archive that is open
// first, and makes its first entry current. The archive is found from its
// end-of-central-directory record, so any number of bytes in front of it is
// fine. When that fails, the file is tried once more as if its last 4 bytes
// were not there: a trailer whose bytes happen to be the record's signature
// hides the real record otherwise (that case is recognised up front). A
// signature too close to the end for a whole record (a truncated file), or
// an archive whose first entry cannot be read, counts as no archive.
// Returns the read handle, or 0 when the file holds no readable archive.
intptr_t OpenArchiveForReading(const Text& path);

// Fills info. -1 with no archive open; else minizip's result.
int GetArchiveInfo(ArchiveGlobalInfo* info);

// Makes the first entry current: -1 with no archive open; else minizip's
// result (negative for an archive without entries).
int GoToFirstEntry();

// Makes the next entry current: 0, -100 at the last entry (which stays
// current), -1 with no archive open.
int GoToNextEntry();

// Fills info for the current entry: 0, -1 with no archive open, or
// minizip's code when the entry cannot be read.
int GetCurrentEntryInfo(ArchiveEntryInfo* info);

// Writes the current entry below destination (a final "\" is added when
// missing); the destination and its missing parents are made first, for
// every entry. keepFolders 1 recreates the stored folders, 0 writes every
// file straight into the destination. An entry of size 0 whose cleaned name
// ends in "\" (or is empty) is a folder: with keepFolders 1 it creates that
// folder, and never a file. Any other entry of size 0 is an empty file,
// written by the same rules as every file.
//
// A file is inflated in chunks into a new file beside its target, which it
// replaces only when the data came out whole with the right CRC; otherwise
// the new file is removed and an existing target stays as it was. When the
// target cannot be replaced (read-only or locked), it is written over in
// place. Its last-write time is then set from the stored date and time with
// the seconds at 0, when those are a valid date from 1980 to 2107.
//
// 0 on success; -1 (no archive open, no data, no memory, output file not
// created), kReaderUnsafeName, kReaderNameTooLong, kReaderWriteFailed,
// kReaderDataShort, -105 (CRC mismatch) or minizip's and zlib's codes. The
// current entry stays current.
int ExtractCurrentEntry(const Text& destination, int keepFolders);

// Inflates the current entry and checks its size and CRC, writing nothing.
// 0 when whole and correct; else a result as for ExtractCurrentEntry.
int TestCurrentEntry();

// Closes the open archive, if any. Always 0.
int CloseArchive();

// Sets the last-write time of the file at path to the given local date and
// time with the seconds at 0. Dates that are no valid calendar date, or lie
// outside 1980..2107 (what a stored DOS date can say), leave the file's time
// alone. 1 when the time was set, else 0.
int SetFileModificationTime(const Text& path, int year, int month, int day, int hour,
                            int minute);

// A short English description of a result, for messages ("CRC mismatch").
Text ReaderResultText(int result);

#endif
