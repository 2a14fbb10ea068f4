// The one extraction engine: opens an archive, checks it whole, and then
// extracts (or tests) every entry below a destination, reporting each step
// through a callback. The stub's extraction thread and `vezovud test` and
// `unpack` all run it, so every front end gets the same checks and counts.
#ifndef VEZOVUD_ARCHIVE_EXTRACTION_H
#define VEZOVUD_ARCHIVE_EXTRACTION_H

#include <stdint.h>

#include "runtime/text.h"

// What a run does with each entry.
const int32_t kRunExtract = 0;  // write it below the destination, with its folders
const int32_t kRunTest = 1;     // inflate it and check size and CRC, writing nothing

// One step of a run, as the callback sees it.
const int32_t kStepOpened = 0;  // the archive is open and checked; total is known
const int32_t kStepEntry = 1;   // entry index is done (result 0) or failed

struct ExtractionStep {
  int32_t kind;      // kStepOpened or kStepEntry
  int64_t index;     // the entry, counted from 0 in central-directory order
  int64_t total;     // entries in the archive
  const Text* name;  // the entry's stored name (kStepEntry; empty when unreadable)
  int utf8Name;      // the name is UTF-8 (else in the writer's ANSI code page)
  int result;        // the reader's result for the entry (archive_reader.h)
  int32_t systemError;  // the system's reason for a failure (LastEntrySystemError), or 0
  // With SetStepByteCounts(1), else 0: the uncompressed bytes of the entries
  // up to and including this one, and of all entries (kStepOpened too), as
  // the central directory gives them.
  int64_t bytesDone;
  int64_t bytesTotal;
};

typedef void (*ExtractionCallback)(void* context, const ExtractionStep& step);

// A failed entry: which one, why (the reader's result) and its stored name
// (a zero-terminated copy; null when memory was short).
struct ExtractionFailure {
  int64_t index;
  int result;
  char* name;
};

struct ExtractionReport {
  int openResult;               // 0, or the kCatalogue result that kept the archive shut
  // 0; or, when the destination could not be made, the system's reason
  // (LastSystemError; -1 when it gave none): then no entry is tried, and
  // every one counts as skipped.
  int32_t destinationError;
  int64_t total;                // entries in the archive
  int64_t done;                 // extracted (or tested) whole
  int64_t failed;               // entries that failed
  int64_t skipped;              // entries never reached: the reader lost its place before them
  ExtractionFailure* failures;  // the failed entries, in order, as far as memory allowed
  int64_t failuresListed;       // how many failures holds
  // 0; or the system's reason (a full disk) that stopped the run at the
  // first write that failed: the entries after it count as skipped.
  int32_t stoppedBy;
};

// Runs over the archive in the file at archivePath. searchBytes is how far
// from the end its end record may start (kStubSearchBytes for the stub,
// kWideSearchBytes for the command line). With kRunExtract the destination
// folder and its missing parents are made first, also for an archive without
// entries (when that fails, no entry is tried: report->destinationError);
// nothing at all is written when the archive is not there or is damaged.
// callback (may be null) hears kStepOpened once, then one kStepEntry per
// entry tried.
//
// 0 when every entry is done; 1 when some failed or were skipped, or the
// destination could not be made; otherwise report->openResult
// (negative): no archive, or a damaged one. The report is filled in every case.
int ExtractArchive(const Text& archivePath, const Text& destination, int32_t mode,
                   int32_t searchBytes, ExtractionCallback callback, void* context,
                   ExtractionReport* report);

// ExtractArchive with kRunExtract and writers threads (at most
// kMaxExtractionWriters) that read, inflate, check, create and write the
// new files, while the calling thread plans the entries and makes their
// folders, with at most kMaxFilesInFlight files handed off at a time. The
// files of one folder up to kSpreadFileBytes are all written by the same
// thread; larger ones go to the thread with the least data waiting. The
// callback still hears every entry in order, once its file is written.
// The result on disk is the one ExtractArchive gives; with writers below 1,
// or when no thread can be started, it is ExtractArchive. One run at a
// time.
const int32_t kMaxExtractionWriters = 16;
const int32_t kSpreadFileBytes = 256 * 1024;
const int32_t kMaxFilesInFlight = 256;
int ExtractArchiveWithWriters(const Text& archivePath, const Text& destination, int32_t writers,
                              int32_t searchBytes, ExtractionCallback callback, void* context,
                              ExtractionReport* report);

// stop 1: a run stops at the first entry that fails because the disk, or
// the user's quota, is full (runtime/system.h, IsDiskFull), with
// report->stoppedBy holding the reason; that entry's part file is gone, the
// files done before it stay, and the entries after it count as skipped.
// stop 0 (the start state): every entry is tried, as the stub does.
void SetStopOnFullDisk(int stop);

// count 1: every step carries bytesDone and bytesTotal; 0 (the start state):
// they stay 0. The command line's, as is SetStopOnFullDisk: the stub calls
// neither, and carries the code of neither.
void SetStepByteCounts(int count);

// Releases the failure list and its names.
void FreeExtractionReport(ExtractionReport* report);

#endif
