// vezovud list, test and unpack: list reads the checked central directory
// entry by entry; test and unpack run the extraction engine, reporting each
// failed entry by name. Names are printed with control bytes escaped.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "archive/archive_reader.h"
#include "archive/extraction.h"
#include "archive/part_file.h"
#include "cli/commands.h"
#include "runtime/file.h"
#include "runtime/name_encoding.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/thread.h"

namespace {

// Characters of the progress bar's track.
const int kProgressBarCells = 40;

int UsageError(const char* text) {
  fprintf(stderr, "vezovud: %s\nTry 'vezovud --help'.\n", text);
  return kExitUsage;
}

// A stored name as this system shows it: UTF-8 as it stands, a name without
// the flag decoded from Windows-1252; control bytes escaped.
Text ShownName(const Text& name, int utf8Name) {
  return PrintableName(utf8Name ? name : Windows1252ToUtf8(name));
}

// Says why the file gave no archive: none at all, or a damaged one, of
// which nothing was extracted.
void ReportUnopened(const char* file, int result) {
  if (result == kCatalogueNoArchive) {
    fprintf(stderr, "vezovud: no archive found in %s\n", PrintableName(file).c_str());
  } else {
    fprintf(stderr, "vezovud: %s: %s; nothing was extracted\n", PrintableName(file).c_str(),
            ReaderResultText(result).c_str());
  }
}

struct RunView {
  int progress;  // draw the bar (stderr is a terminal)
};

// Draws "[####    ]  n/total" on stderr, and reports each failed entry.
void OnStep(void* context, const ExtractionStep& step) {
  const RunView* view = static_cast<const RunView*>(context);
  if (step.kind != kStepEntry) return;
  // A full disk stops the run; its one line comes at the end.
  if (step.result != 0 && !IsDiskFull(step.systemError)) {
    if (view->progress) fputc('\n', stderr);
    Text name =
        step.name->IsEmpty() ? Text("(unreadable entry)") : ShownName(*step.name, step.utf8Name);
    Text reason = ReaderResultText(step.result);
    if (step.systemError != 0) reason += Text(": ") + SystemErrorText(step.systemError);
    fprintf(stderr, "vezovud: failed: %s: %s\n", name.c_str(), reason.c_str());
  }
  if (!view->progress || step.total == 0) return;
  int64_t done = step.index + 1;
  int filled = static_cast<int>(done * kProgressBarCells / step.total);
  char track[kProgressBarCells + 1];
  for (int i = 0; i < kProgressBarCells; ++i) track[i] = i < filled ? '#' : ' ';
  track[kProgressBarCells] = 0;
  fprintf(stderr, "\r[%s] %lld/%lld", track, static_cast<long long>(done),
          static_cast<long long>(step.total));
  if (done == step.total) fputc('\n', stderr);
  fflush(stderr);
}

// Runs the engine over file, unpacking with writers threads (below 2: on
// this thread alone); prints the closing line. The exit status.
int RunEngine(const char* file, const char* destination, int32_t mode, int32_t writers) {
  RunView view = {isatty(2)};
  ExtractionReport report;
  int result = mode == kRunExtract && writers > 1
                   ? ExtractArchiveWithWriters(file, destination, writers, kWideSearchBytes, OnStep,
                                               &view, &report)
                   : ExtractArchive(file, destination != nullptr ? destination : "", mode,
                                    kWideSearchBytes, OnStep, &view, &report);
  int status = kExitSuccess;
  if (result < 0) {
    ReportUnopened(file, result);
    status = kExitFailure;
  } else if (report.destinationError != 0) {
    Text reason = report.destinationError > 0 ? SystemErrorText(report.destinationError)
                                              : Text("it is no folder");
    fprintf(stderr, "vezovud: %s could not be made: %s; nothing was extracted\n",
            PrintableName(destination).c_str(), reason.c_str());
    status = kExitFailure;
  } else if (report.stoppedBy != 0) {
    fprintf(stderr, "vezovud: stopped: %s; the %lld files extracted before stay\n",
            SystemErrorText(report.stoppedBy).c_str(), static_cast<long long>(report.done));
    status = kExitFailure;
  } else if (result > 0) {
    if (report.skipped > 0) {
      fprintf(stderr, "vezovud: %lld entries were not reached\n",
              static_cast<long long>(report.skipped));
    }
    fprintf(stderr,
            mode == kRunTest ? "vezovud: %lld of %lld entries failed the test\n"
                             : "vezovud: %lld of %lld entries could not be extracted\n",
            static_cast<long long>(report.failed + report.skipped),
            static_cast<long long>(report.total));
    status = kExitFailure;
  } else if (mode == kRunTest) {
    printf("%lld entries OK\n", static_cast<long long>(report.done));
  }
  FreeExtractionReport(&report);
  return status;
}

}  // namespace

int RunListCommand(int argc, char** argv) {
  if (argc != 2) return UsageError("list takes one FILE");
  SetNativePaths(1);  // FILE as typed: "\" is part of a name here
  int opened = OpenArchiveChecked(argv[1], kWideSearchBytes);
  if (opened != 0) {
    ReportUnopened(argv[1], opened);
    return kExitFailure;
  }
  int status = kExitSuccess;
  int64_t listed = 0;
  int position = GoToFirstEntry();
  while (position == 0) {
    ArchiveEntryInfo entry;
    int result = GetCurrentEntryInfo(&entry);
    if (result != 0) {
      fprintf(stderr, "vezovud: %s\n", ReaderResultText(result).c_str());
      status = kExitFailure;
      break;
    }
    printf("%s\t%llu\t%llu\t%04d-%02d-%02d %02d:%02d:%02d\t%08x\n",
           ShownName(entry.name, entry.utf8Name).c_str(),
           static_cast<unsigned long long>(entry.size),
           static_cast<unsigned long long>(entry.compressedSize), entry.time.year,
           entry.time.month, entry.time.day, entry.time.hour, entry.time.minute,
           entry.time.second, static_cast<unsigned>(entry.crc));
    ++listed;
    position = GoToNextEntry();
  }
  // The list ends at the last entry; a reader that cannot reach the next
  // one leaves the rest unlisted, as test and unpack would leave them.
  if (status == kExitSuccess && position != kReaderEndOfEntries) {
    ArchiveGlobalInfo info = {0, 0};
    GetArchiveInfo(&info);
    fprintf(stderr, "vezovud: %lld entries were not reached\n",
            static_cast<long long>(info.entryCount - listed));
    status = kExitFailure;
  }
  CloseArchive();
  return status;
}

int RunTestCommand(int argc, char** argv) {
  if (argc != 2) return UsageError("test takes one FILE");
  SetNativePaths(1);
  return RunEngine(argv[1], nullptr, kRunTest, 1);
}

int RunUnpackCommand(int argc, char** argv) {
  // Files are created by as many threads as there are processors, unless
  // --jobs says otherwise; creating a file is what unpacking waits for most.
  int32_t jobs = ProcessorCount();
  if (argc == 5 && strcmp(argv[3], "--jobs") == 0) {
    if (!ParseJobs(argv[4], kMaxExtractionWriters, &jobs)) {
      return UsageError("--jobs takes a positive number");
    }
    argc = 3;
  }
  if (argc != 3) return UsageError("unpack takes FILE and DEST, then --jobs N if wanted");
  if (argv[2][0] == 0) return UsageError("DEST must not be empty");
  // FILE and DEST as typed: "\" is part of a name here, not a separator.
  SetNativePaths(1);
  // Ctrl+C, a kill or a closed terminal removes the part files being
  // written; files already whole stay. The exit status is then 128 plus the
  // signal's number.
  CatchInterrupts(RemovePartFileInProgress);
  // Part files that killed runs left go from the folders this run writes in.
  SetLeftPartSweep(RemoveLeftPartFiles);
  SetStopOnFullDisk(1);
  SetStepByteCounts(1);
  return RunEngine(argv[1], argv[2], kRunExtract, jobs);
}
