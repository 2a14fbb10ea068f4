// The extraction engine: one loop over the entries for every front end. It
// keeps the command line's choices and, for one run, the bytes done; the
// reader (archive_reader.h) holds the open archive while a run lasts.
#include "archive/extraction.h"

#include <string.h>

#include "archive/archive_reader.h"
#include "archive/central_directory.h"
#include "archive/extraction_run.h"
#include "runtime/file.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"
#include "runtime/system.h"

namespace {

const int kFailureGrowth = 16;

int gStopOnFullDisk = 0;
int gCountBytes = 0;
int64_t gBytesDone = 0;   // uncompressed bytes of the entries reported in this run
int64_t gBytesTotal = 0;  // of all its entries

// The command line's additions to each entry's report (SetStopOnFullDisk,
// SetStepByteCounts): stopping at a full disk, and the bytes done. 0 when
// the entry is not to be counted or told: it failed after the run stopped.
int EntryExtras(ExtractionReport* report, ExtractionStep* step) {
  if (step->result != 0 && report->stoppedBy != 0) {
    // Under way when a full disk stopped the run: not a failure of its own.
    ++report->skipped;
    return 0;
  }
  if (step->result != 0 && gStopOnFullDisk && IsDiskFull(step->systemError)) {
    report->stoppedBy = step->systemError;
  }
  if (gCountBytes) {
    gBytesDone += static_cast<int64_t>(EntryDataBytes(step->index));
    step->bytesDone = gBytesDone;
    step->bytesTotal = gBytesTotal;
  }
  return 1;
}

// Set only by the setters that the command line calls, so that the stub,
// which never does, carries none of the additions.
int (*gEntryExtras)(ExtractionReport* report, ExtractionStep* step) = nullptr;

// Appends a failure; the list grows in steps. When memory is short the
// failure is only counted.
void RecordFailure(ExtractionReport* report, int64_t index, int result, const Text& name) {
  ++report->failed;
  int64_t listed = report->failuresListed;
  if (listed % kFailureGrowth == 0) {
    ExtractionFailure* grown = static_cast<ExtractionFailure*>(
        AllocateBlock((listed + kFailureGrowth) * static_cast<int64_t>(sizeof(ExtractionFailure))));
    if (grown == nullptr) return;
    if (listed > 0) memcpy(grown, report->failures, listed * sizeof(ExtractionFailure));
    FreeBlock(report->failures);
    report->failures = grown;
  }
  ExtractionFailure* failure = &report->failures[listed];
  failure->index = index;
  failure->result = result;
  failure->name = static_cast<char*>(AllocateBlock(name.Length() + 1));
  if (failure->name != nullptr) memcpy(failure->name, name.c_str(), name.Length());
  report->failuresListed = listed + 1;
}

void RunEntriesHere(const Text& destination, int32_t mode, int32_t, ExtractionCallback callback,
                    void* context, ExtractionReport* report) {
  VisitEntries(destination, mode, ExtractOrTest, callback, context, report);
}

}  // namespace

void ExtractOrTest(const Text& destination, int32_t mode, int64_t index, const Text& name,
                   int utf8Name, ExtractionCallback callback, void* context,
                   ExtractionReport* report) {
  int result = mode == kRunTest ? TestCurrentEntry() : ExtractCurrentEntry(destination, 1);
  int32_t systemError = mode == kRunTest || result == 0 ? 0 : LastEntrySystemError();
  ReportEntry(index, name, utf8Name, result, systemError, callback, context, report);
}

void ReportEntry(int64_t index, const Text& name, int utf8Name, int result, int32_t systemError,
                 ExtractionCallback callback, void* context, ExtractionReport* report) {
  ExtractionStep step = {kStepEntry, index, report->total, &name, utf8Name, result, systemError, 0, 0};
  if (gEntryExtras != nullptr && !gEntryExtras(report, &step)) return;
  if (result == 0) {
    ++report->done;
  } else {
    RecordFailure(report, index, result, name);
  }
  if (callback != nullptr) callback(context, step);
}

void VisitEntries(const Text& destination, int32_t mode, EntryStep step,
                  ExtractionCallback callback, void* context, ExtractionReport* report) {
  int position = GoToFirstEntry();
  for (int64_t index = 0; index < report->total; ++index) {
    if (position != 0 || report->stoppedBy != 0) {
      // The reader could not reach this entry, so none of the rest either;
      // or a full disk stopped the run.
      report->skipped += report->total - index;
      break;
    }
    ArchiveEntryInfo entry;
    Text name;
    int utf8Name = 0;
    if (GetCurrentEntryInfo(&entry) == 0) {
      name = entry.name;
      utf8Name = entry.utf8Name;
    }
    step(destination, mode, index, name, utf8Name, callback, context, report);
    if (index + 1 < report->total) position = GoToNextEntry();
  }
}

int RunExtraction(const Text& archivePath, const Text& destination, int32_t mode, int32_t writers,
                  int32_t searchBytes, EntriesRun entries, ExtractionCallback callback,
                  void* context, ExtractionReport* report) {
  report->openResult = 0;
  report->destinationError = 0;
  report->total = 0;
  report->done = 0;
  report->failed = 0;
  report->skipped = 0;
  report->failures = nullptr;
  report->failuresListed = 0;
  report->stoppedBy = 0;
  int opened = OpenArchiveChecked(archivePath, searchBytes);
  if (opened != kCatalogueOk) {
    // Damaged or absent: nothing is written, not even the destination.
    report->openResult = opened;
    return opened;
  }
  ArchiveGlobalInfo info = {0, 0};
  GetArchiveInfo(&info);
  report->total = info.entryCount;
  ExtractionStep step = {kStepOpened, 0, report->total, nullptr, 0, 0, 0, 0, 0};
  if (gEntryExtras != nullptr && gCountBytes) {
    gBytesDone = 0;
    gBytesTotal = static_cast<int64_t>(ArchiveDataBytes());
    step.bytesTotal = gBytesTotal;
  }
  if (mode == kRunExtract) {
    // The destination exists after a run, also when there is nothing to put
    // in it.
    Text folder = destination;
    if (folder.Last() != kPathSeparator && folder.Last() != '/') folder += kPathSeparator;
    if (!MakePath(folder)) {
      int32_t reason = LastSystemError();
      report->destinationError = reason != 0 ? reason : -1;
    }
  }
  if (callback != nullptr) callback(context, step);
  if (report->destinationError != 0) {
    // Every entry would fail alike; the one reason is told once.
    report->skipped = report->total;
  } else {
    entries(destination, mode, writers, callback, context, report);
  }
  CloseArchive();
  return report->failed > 0 || report->skipped > 0 || report->destinationError != 0 ? 1 : 0;
}

int ExtractArchive(const Text& archivePath, const Text& destination, int32_t mode,
                   int32_t searchBytes, ExtractionCallback callback, void* context,
                   ExtractionReport* report) {
  return RunExtraction(archivePath, destination, mode, 0, searchBytes, RunEntriesHere, callback,
                       context, report);
}

void SetStopOnFullDisk(int stop) {
  gStopOnFullDisk = stop;
  gEntryExtras = EntryExtras;
}

void SetStepByteCounts(int count) {
  gCountBytes = count;
  gEntryExtras = EntryExtras;
}

void FreeExtractionReport(ExtractionReport* report) {
  for (int64_t i = 0; i < report->failuresListed; ++i) FreeBlock(report->failures[i].name);
  FreeBlock(report->failures);
  report->failures = nullptr;
  report->failuresListed = 0;
}
