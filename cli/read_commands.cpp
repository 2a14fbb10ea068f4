// vezovud list, test and unpack: the archive reader driven from the command
// line. unpack follows the stub's own loop (every entry extracted below the
// destination with its folders), and reports each failed entry by name.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "archive/archive_reader.h"
#include "cli/commands.h"

// Characters of the progress bar's track.
static const int kProgressBarCells = 40;

static int UsageError(const char* text) {
  fprintf(stderr, "vezovud: %s\nTry 'vezovud --help'.\n", text);
  return kExitUsage;
}

// Opens file and reports a missing archive; 1 on success.
static int OpenOrComplain(const char* file, ArchiveGlobalInfo* info) {
  if (OpenArchiveForReading(file) == 0 || GetArchiveInfo(info) != 0) {
    fprintf(stderr, "vezovud: no archive found in %s\n", file);
    return 0;
  }
  return 1;
}

// Draws "[####    ]  n/total" on stderr, only when stderr is a terminal.
static void ShowProgress(int done, uint32_t total, int active) {
  if (!active || total == 0) return;
  int filled = (int)((int64_t)done * kProgressBarCells / total);
  char track[kProgressBarCells + 1];
  for (int i = 0; i < kProgressBarCells; ++i) track[i] = i < filled ? '#' : ' ';
  track[kProgressBarCells] = 0;
  fprintf(stderr, "\r[%s] %d/%u", track, done, (unsigned)total);
  if ((uint32_t)done == total) fputc('\n', stderr);
  fflush(stderr);
}

static void ReportFailure(int result) {
  ArchiveEntryInfo entry;
  Text name = GetCurrentEntryInfo(&entry) == 0 ? entry.name : Text("(unreadable entry)");
  fprintf(stderr, "vezovud: failed: %s: %s\n", name.c_str(), ReaderResultText(result).c_str());
}

int RunListCommand(int argc, char** argv) {
  if (argc != 2) return UsageError("list takes one FILE");
  ArchiveGlobalInfo info;
  if (!OpenOrComplain(argv[1], &info)) return kExitFailure;
  int status = kExitSuccess;
  if (info.entryCount > 0) {
    GoToFirstEntry();
    do {
      ArchiveEntryInfo entry;
      int result = GetCurrentEntryInfo(&entry);
      if (result != 0) {
        fprintf(stderr, "vezovud: %s\n", ReaderResultText(result).c_str());
        status = kExitFailure;
        break;
      }
      printf("%s\t%u\t%u\t%04d-%02d-%02d %02d:%02d:%02d\t%08x\n", entry.name.c_str(),
             (unsigned)entry.size, (unsigned)entry.compressedSize, entry.year, entry.month,
             entry.day, entry.hour, entry.minute, entry.second, (unsigned)entry.crc);
    } while (GoToNextEntry() == 0);
  }
  CloseArchive();
  return status;
}

// Tests (destination null) or extracts every entry from the current one to
// the last, reporting each failed entry by name and drawing the progress bar.
// Returns the number of failed entries.
static int EachEntry(const ArchiveGlobalInfo& info, const char* destination) {
  int failed = 0;
  int progress = isatty(2);
  int done = 0;
  do {
    int result = destination ? ExtractCurrentEntry(destination, 1) : TestCurrentEntry();
    if (result != 0) {
      if (progress) fputc('\n', stderr);
      ReportFailure(result);
      ++failed;
    }
    ShowProgress(++done, info.entryCount, progress);
  } while (GoToNextEntry() == 0);
  return failed;
}

int RunTestCommand(int argc, char** argv) {
  if (argc != 2) return UsageError("test takes one FILE");
  ArchiveGlobalInfo info;
  if (!OpenOrComplain(argv[1], &info)) return kExitFailure;
  GoToFirstEntry();
  int failed = info.entryCount > 0 ? EachEntry(info, nullptr) : 0;
  CloseArchive();
  if (failed > 0) {
    fprintf(stderr, "vezovud: %d of %u entries failed the test\n", failed,
            (unsigned)info.entryCount);
    return kExitFailure;
  }
  printf("%u entries OK\n", (unsigned)info.entryCount);
  return kExitSuccess;
}

int RunUnpackCommand(int argc, char** argv) {
  if (argc != 3) return UsageError("unpack takes FILE and DEST");
  if (argv[2][0] == 0) return UsageError("DEST must not be empty");
  ArchiveGlobalInfo info;
  if (!OpenOrComplain(argv[1], &info)) return kExitFailure;
  GoToFirstEntry();
  int failed = 0;
  if (info.entryCount == 0) {
    // No entries: the call still makes the destination, as the stub's does.
    ExtractCurrentEntry(argv[2], 1);
  } else {
    failed = EachEntry(info, argv[2]);
  }
  CloseArchive();
  if (failed > 0) {
    fprintf(stderr, "vezovud: %d of %u entries could not be extracted\n", failed,
            (unsigned)info.entryCount);
    return kExitFailure;
  }
  return kExitSuccess;
}
