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
// The name would land outside the destination ("..", absolute, drive), or
// names a stream or a device (":", NUL).
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
// A folder entry (a name ending in "\" or "/", or the empty name of the
// packed folder) that holds data: there is no file to put it in.
const int kReaderFolderHoldsData = -212;
// The file's name, free when the entry was begun, was taken by something
// else meanwhile; that is left alone.
const int kReaderTargetAppeared = -213;
// The file (its part file) could not be created.
const int kReaderCannotCreate = -214;
// A folder on the way to the entry could not be made.
const int kReaderFolderNotMade = -215;

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
  // A folder entry: a name that ends in "\" or "/" once its spaces are
  // trimmed; or, when it holds nothing at all (size 0 and a compressed
  // stream that is empty or the empty deflate stream 03 00), the empty name
  // or a name with the MS-DOS directory attribute. Such an entry with data
  // is a file.
  int isFolder;
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

// The uncompressed bytes of all entries, as their central records give
// them; 0 with no archive open.
uint64_t ArchiveDataBytes();

// The uncompressed bytes of entry index (central-directory order), as its
// central record gives them; 0 outside the open archive's entries.
uint64_t EntryDataBytes(int64_t index);

// Makes the first entry current: 0; -1 with no archive open; -100 for an
// archive without entries.
int GoToFirstEntry();

// Makes the next entry current: 0, -100 at the last entry (which stays
// current), -1 with no archive open.
int GoToNextEntry();

// Fills info for the current entry: 0, -1 with no archive open, or
// minizip's code when the entry cannot be read.
int GetCurrentEntryInfo(ArchiveEntryInfo* info);

// Writes the current entry below destination (the platform's separator is
// added unless it ends in one or in "/"); the destination and its missing
// parents are made first, for every entry. The destination itself may be a
// link (the user chose it); below it nothing is written through a link, and
// folders are made one by one, each checked. keepFolders 1 recreates the
// stored folders, 0 writes every file straight into the destination. A
// folder entry (ArchiveEntryInfo) creates that folder with keepFolders 1,
// and never a file; one that holds data, or whose CRC does not match, fails.
// Any other entry is a file, an empty one too.
//
// Every file is inflated in chunks into a new part file in its target's
// folder (part_file.h), created exclusively under a random name, and takes
// the target's name only when it came out whole with the right CRC, its
// last-write time already set from the stored date and time with the
// seconds at 0 (when those are a valid date from 1980 to 2107). A target
// that did not exist is never put over anything that appeared under its
// name meanwhile; an existing one is replaced. When it cannot be replaced
// (read-only or locked), it is written over in place, unless it is a link
// or has another name too (a hard link). A part file that is not whole is
// removed, and the target stays as it was. Before the first file of a run
// lands in a folder, the part files that ended runs left there go, where a
// sweep is set (SetLeftPartSweep).
//
// Only stored and deflated entries are written, never encrypted ones, and
// every file's CRC is checked. A folder entry whose path is a file fails.
// TestCurrentEntry gives every entry the verdict that extraction into an
// empty folder would.
//
// 0 on success; -1 (no archive open, no data, no memory), one of the
// kReader codes above, -105 (CRC mismatch) or minizip's and zlib's codes.
// The current entry stays current.
int ExtractCurrentEntry(const Text& destination, int keepFolders);

// Sets what is done, before the first file of a run lands in a folder, to
// the part files that ended runs left there: sweep(folder), such as
// RemoveLeftPartFiles (part_file.h); null (the start state) leaves them. The
// command-line tool sets it. The stub, whose every byte each output file
// carries, goes without, and without the listing code it needs: the stub
// removes its own part files when it ends, only a killed stub leaves one.
typedef int64_t (*LeftPartSweep)(const Text& folder);
void SetLeftPartSweep(LeftPartSweep sweep);

// The system's reason (system.h, LastSystemError) for the failure of the
// last ExtractCurrentEntry or ExtractOrHandOffCurrentEntry: a folder that
// could not be made, a file that could not be created, written or put in
// place. 0 when that failure had no such cause, or there was none.
int32_t LastEntrySystemError();

// Extraction with writer threads (extraction.h): the reader stays on one
// thread, plans each entry and makes its folders, and hands each new file
// to a thread that reads its data from the archive's file, inflates and
// checks it, and creates and writes the file. Creating a file costs the
// system more than inflating a small one, and inflating is the rest of the
// work: both are shared out.
struct HandedOffFile {
  Text target;       // the path to put the file at; nothing was there
  Text partPattern;  // where its part file goes (CreatePartFile)
  int64_t dataStart; // where its data starts in the archive's file
  uint64_t compressedSize;
  uint64_t size;
  int method;  // stored or deflated
  uint32_t crc;
  int year, month, day, hour, minute;  // the stored date and time
  int32_t systemError;  // set by WriteHandedOffFile: LastEntrySystemError's kind
};

// Asked with each entry's target path before anything is made for it.
// Nonzero means a handed-off file not yet written could meet it (the same
// path, or one inside the other), so those must be written first.
typedef int (*TargetCheck)(void* context, const Text& target);

// check asked for the files handed off so far to be written first; the
// entry stays current, untouched, and may be extracted again.
const int kReaderWritersFirst = -211;

// ExtractCurrentEntry with keepFolders 1, except that a file whose target
// does not exist is handed back in *file (*handedOff 1) for
// WriteHandedOffFile once its name, folders and method are checked, instead
// of being written. Everything else is done here as ExtractCurrentEntry
// does it (*handedOff 0).
int ExtractOrHandOffCurrentEntry(const Text& destination, TargetCheck check, void* context,
                                 HandedOffFile* file, int* handedOff);

// A reading handle (file.h, a plain file) of the open archive's file for
// one writer thread, which closes it with ClosePlainFile; 0 when none.
intptr_t OpenArchiveFileForWriter();

// Writes a handed-off file on any thread, as ExtractCurrentEntry writes a
// file whose target did not exist: its data read through archive (the
// thread's own OpenArchiveFileForWriter handle), inflated into a part file
// announced in partSlot (the thread's own, part_file.h), its size and CRC
// checked, its size on disk checked and its write time set, then put at
// the target unless something took that name meanwhile; on a failure the
// part is removed. Touches no reader state. 0, or the failure that
// ExtractCurrentEntry gives, with file->systemError set where the system
// gave a reason.
int WriteHandedOffFile(HandedOffFile* file, intptr_t archive, int32_t partSlot);

// Checks the current entry as extraction does, writing nothing: whether it
// is a folder, and one that holds nothing; its name (below the destination,
// UTF-8 where flagged so); its method; then it is inflated and its size and
// CRC checked. 0 when all is well; else the result that ExtractCurrentEntry
// gives the entry in an empty destination, except for limits of the
// destination's own (a name too long for it).
int TestCurrentEntry();

// Closes the open archive, if any. Always 0.
int CloseArchive();

// Removes the part files being written, the reading thread's and the writer
// threads' (never a file that was there before, nor a finished one), and
// makes no new ones until the next archive is opened. For a program that
// ends while an extraction runs: on any thread, also inside a signal handler
// (it takes no lock and allocates nothing), such as the procedure that
// CatchInterrupts runs.
void RemovePartFileInProgress();

// Sets the last-write time of the file at path to the given local date and
// time with the seconds at 0. Dates that are no valid calendar date, or lie
// outside 1980..2107 (what a stored DOS date can say), leave the file's time
// alone. 1 when the time was set, else 0.
int SetFileModificationTime(const Text& path, int year, int month, int day, int hour, int minute);

// A short English description of a result, for messages ("CRC mismatch").
Text ReaderResultText(int result);

#endif
