// The frame of an extraction run and its loop over the entries, shared by
// ExtractArchive (extraction.cpp) and ExtractArchiveWithWriters
// (extraction_writers.cpp), so that a program that never starts writer
// threads carries none of their code.
#ifndef VEZOVUD_ARCHIVE_EXTRACTION_RUN_H
#define VEZOVUD_ARCHIVE_EXTRACTION_RUN_H

#include <stdint.h>

#include "archive/extraction.h"
#include "runtime/text.h"

// Does one entry (the reader's current one) and sees it reported.
typedef void (*EntryStep)(const Text& destination, int32_t mode, int64_t index, const Text& name,
                          int utf8Name, ExtractionCallback callback, void* context,
                          ExtractionReport* report);

// Runs over the entries of the open archive, every one reported by the end.
typedef void (*EntriesRun)(const Text& destination, int32_t mode, int32_t writers,
                           ExtractionCallback callback, void* context, ExtractionReport* report);

// Opens and checks the archive, makes the destination (kRunExtract),
// reports kStepOpened, calls entries, and closes the archive. What
// ExtractArchive returns.
int RunExtraction(const Text& archivePath, const Text& destination, int32_t mode, int32_t writers,
                  int32_t searchBytes, EntriesRun entries, ExtractionCallback callback,
                  void* context, ExtractionReport* report);

// Calls step for each entry in order; when the reader cannot reach an
// entry, or a full disk stopped the run (report->stoppedBy), the rest are
// counted as skipped.
void VisitEntries(const Text& destination, int32_t mode, EntryStep step,
                  ExtractionCallback callback, void* context, ExtractionReport* report);

// The step of a run on one thread: the current entry extracted or tested
// here, and reported.
void ExtractOrTest(const Text& destination, int32_t mode, int64_t index, const Text& name,
                   int utf8Name, ExtractionCallback callback, void* context,
                   ExtractionReport* report);

// Counts an entry's result in the report and tells the callback, with the
// system's reason for a failure (0 for none), and with SetStepByteCounts
// the bytes done so far, the entry's own included (EntryDataBytes). A
// failure for a full disk stops the run where SetStopOnFullDisk asked for
// it (report->stoppedBy); an entry that fails after that, one already under
// way then, counts as skipped and is not told.
void ReportEntry(int64_t index, const Text& name, int utf8Name, int result, int32_t systemError,
                 ExtractionCallback callback, void* context, ExtractionReport* report);

#endif
