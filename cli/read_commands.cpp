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
#include "cli/progress.h"
#include "runtime/file.h"
#include "runtime/name_encoding.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/thread.h"

namespace {

const char kListHelp[] =
    "usage: vezovud list [OPTIONS] FILE\n"
    "\n"
    "Lists the entries of FILE. On a terminal, or with --long, in columns with a\n"
    "header and a totals line; for a pipe, one line per entry with tab-separated\n"
    "fields: name, size, compressed size, date and time, CRC-32.\n"
    "\n"
    "  -l, --long   columns: size, compressed, ratio, date and time, CRC-32, name\n"
    "      --tsv    tab-separated: the five fields above, then 'file' or 'folder'\n"
    "      --json   one JSON object per line: name, kind, size, compressed, time, crc32\n"
    "  -q, --quiet  no header or totals with the columns\n"
    "  -h, --help   show this help\n";

const char kTestHelp[] =
    "usage: vezovud test [OPTIONS] FILE\n"
    "\n"
    "Checks every entry's data and CRC-32, writing nothing.\n"
    "\n"
    "  -q, --quiet    no closing 'N entries OK'\n"
    "  -v, --verbose  name each entry as it passes\n"
    "  -h, --help     show this help\n";

const char kUnpackHelp[] =
    "usage: vezovud unpack [OPTIONS] FILE DEST\n"
    "       vezovud unpack [OPTIONS] -d DEST FILE\n"
    "\n"
    "Extracts every entry of FILE below the folder DEST, which is made if missing.\n"
    "\n"
    "  -d, --destination DIR  extract below DIR\n"
    "  -j, --jobs N           inflate and create the files with N threads (default:\n"
    "                         one per processor, at most 16); 1 extracts one after\n"
    "                         another\n"
    "  -q, --quiet            no progress line\n"
    "  -v, --verbose          name each entry as it is extracted (on stdout)\n"
    "  -h, --help             show this help\n"
    "\n"
    "Each file is written to a part file named .~vz and 8 letters or digits, which\n"
    "takes the file's name once whole. Interrupted by SIGINT, SIGTERM or SIGHUP,\n"
    "unpack removes the part files it was writing and exits with 130, 143 or 129;\n"
    "the part files a killed run left go when a run writes into their folder.\n"
    "A full disk stops the run at the first write that fails; the files extracted\n"
    "whole before it stay.\n";

// How a person sees the entry of the packed folder itself, which has an empty name.
const char kRootShown[] = "./";

// Long options without a letter of their own.
enum { kOptionTsv = 256, kOptionJson };

// A stored name as this system shows it: UTF-8 as it stands, a name without
// the flag decoded from Windows-1252; control bytes escaped.
Text ShownName(const Text& name, int utf8Name) {
  return PrintableName(utf8Name ? name : Windows1252ToUtf8(name));
}

// Says why the file gave no archive: it cannot be read (with the system's
// reason, found by opening it again), holds none, or holds a damaged one, of
// which unpack extracted nothing.
void ReportUnopened(const char* command, const char* file, int result) {
  Text shown = PrintableName(file);
  if (result == kCatalogueUnreadable) {
    Text reason = Text("it cannot be read");
    if (PathSize(file) == -2) {
      reason = Text("it is a folder");
    } else {
      intptr_t probe = OpenFileForReading(kAnyNumber, file);
      if (probe == 0) {
        int32_t error = LastSystemError();
        if (error != 0) reason = SystemErrorText(error);
      } else {
        CloseFileNumber(probe);
      }
    }
    fprintf(stderr, "vezovud %s: cannot read %s: %s\n", command, shown.c_str(), reason.c_str());
  } else if (result == kCatalogueNoArchive) {
    fprintf(stderr, "vezovud %s: no archive found in %s\n", command, shown.c_str());
  } else {
    fprintf(stderr, "vezovud %s: %s: %s%s\n", command, shown.c_str(),
            ReaderResultText(result).c_str(),
            strcmp(command, "unpack") == 0 ? "; nothing was extracted" : "");
  }
}

struct RunView {
  const char* command;
  int verbose;             // name each entry done
  int32_t mode;            // kRunTest or kRunExtract
  int64_t diskFull;        // entries that failed for a full disk, said once at the end
  int32_t diskFullReason;  // the system's reason for them
};

// Reports each failed entry, names each done one with --verbose, and moves
// the progress line.
void OnStep(void* context, const ExtractionStep& step) {
  RunView* view = static_cast<RunView*>(context);
  if (step.kind != kStepEntry) return;
  Text name = ShownName(*step.name, step.utf8Name);
  if (step.result != 0 && IsDiskFull(step.systemError)) {
    ++view->diskFull;
    view->diskFullReason = step.systemError;
  } else if (step.result != 0) {
    ClearProgress();
    Text reason = ReaderResultText(step.result);
    if (step.systemError != 0) reason += Text(": ") + SystemErrorText(step.systemError);
    fprintf(stderr, "vezovud %s: failed: %s: %s\n", view->command,
            name.IsEmpty() ? "(unreadable entry)" : name.c_str(), reason.c_str());
  } else if (view->verbose) {
    ClearProgress();
    if (name.IsEmpty()) name = kRootShown;
    if (view->mode == kRunTest) {
      printf("%s: OK\n", name.c_str());
    } else {
      printf("%s\n", name.c_str());
    }
    fflush(stdout);
  }
  if (step.bytesTotal > 0) {
    ShowProgress(kProgressBytes, step.bytesDone, step.bytesTotal, name);
  } else {
    ShowProgress(kProgressEntries, step.index + 1, step.total, name);
  }
}

// Runs the engine over file, unpacking with writers threads (below 2: on
// this thread alone); prints the closing line. The exit status.
int RunEngine(const char* command, const char* file, const char* destination, int32_t mode,
              int32_t writers, int quiet, int verbose) {
  RunView view = {command, verbose, mode, 0, 0};
  StartProgress(mode == kRunExtract && !quiet && isatty(2));
  ExtractionReport report;
  int result = mode == kRunExtract && writers > 1
                   ? ExtractArchiveWithWriters(file, destination, writers, kWideSearchBytes, OnStep,
                                               &view, &report)
                   : ExtractArchive(file, destination != nullptr ? destination : "", mode,
                                    kWideSearchBytes, OnStep, &view, &report);
  EndProgress();
  int status = kExitSuccess;
  if (result < 0) {
    ReportUnopened(command, file, result);
    status = kExitFailure;
  } else if (report.destinationError != 0) {
    Text reason = report.destinationError > 0 ? SystemErrorText(report.destinationError)
                                              : Text("it is no folder");
    fprintf(stderr, "vezovud %s: cannot make the folder %s: %s; nothing was extracted\n", command,
            PrintableName(destination).c_str(), reason.c_str());
    status = kExitFailure;
  } else if (report.stoppedBy != 0) {
    // One line for a full disk: the entries after it were never tried.
    fprintf(stderr,
            "vezovud %s: stopped: %s; the %lld files extracted whole before it stay, "
            "%lld of %lld entries were not extracted\n",
            command, SystemErrorText(report.stoppedBy).c_str(), static_cast<long long>(report.done),
            static_cast<long long>(report.failed + report.skipped),
            static_cast<long long>(report.total));
    status = kExitFailure;
  } else if (result > 0) {
    if (view.diskFull > 0) {
      fprintf(stderr, "vezovud %s: %lld entries could not be written: %s\n", command,
              static_cast<long long>(view.diskFull), SystemErrorText(view.diskFullReason).c_str());
    }
    if (report.skipped > 0) {
      fprintf(stderr, "vezovud %s: %lld entries were not reached\n", command,
              static_cast<long long>(report.skipped));
    }
    fprintf(stderr,
            mode == kRunTest ? "vezovud %s: %lld of %lld entries failed the test\n"
                             : "vezovud %s: %lld of %lld entries could not be extracted\n",
            command, static_cast<long long>(report.failed + report.skipped),
            static_cast<long long>(report.total));
    status = kExitFailure;
  } else if (mode == kRunTest && !quiet) {
    printf("%lld entries OK\n", static_cast<long long>(report.done));
  }
  FreeExtractionReport(&report);
  return status;
}

// The list's layouts.
enum ListFormat {
  kListPlain = 0,  // tab-separated, five fields: the format for pipes from the start
  kListLong = 1,
  kListTsv = 2,
  kListJson = 3
};

// 1 for the root folder's entry: a folder whose name is only separators.
int IsRootEntry(const ArchiveEntryInfo& entry) {
  if (!entry.isFolder) return 0;
  for (int i = 0; i < entry.name.Length(); ++i) {
    if (entry.name.At(i) != '/' && entry.name.At(i) != '\\') return 0;
  }
  return 1;
}

// text as the inside of a JSON string: UTF-8 kept, quotes, backslashes and
// control characters (C0, DEL and C1) escaped, so that no name can drive a
// terminal, and bytes that are no UTF-8 given as U+FFFD.
Text JsonString(const Text& text) {
  Text out;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
  int length = text.Length();
  int i = 0;
  while (i < length) {
    unsigned char lead = bytes[i];
    if (lead == '"' || lead == '\\') {
      out += '\\';
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    if (lead < 0x20 || lead == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", lead);
      out += escaped;
      ++i;
      continue;
    }
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    // A well-formed sequence: its length from the lead, continuation bytes,
    // and no overlong form, surrogate or value past U+10FFFF.
    int count = lead >= 0xC2 && lead <= 0xDF   ? 2
                : lead >= 0xE0 && lead <= 0xEF ? 3
                : lead >= 0xF0 && lead <= 0xF4 ? 4
                                               : 0;
    int valid = count > 0 && i + count <= length;
    for (int k = 1; valid && k < count; ++k) valid = (bytes[i + k] & 0xC0) == 0x80;
    if (valid && count >= 3) {
      unsigned char second = bytes[i + 1];
      if (lead == 0xE0 && second < 0xA0) valid = 0;
      if (lead == 0xED && second >= 0xA0) valid = 0;
      if (lead == 0xF0 && second < 0x90) valid = 0;
      if (lead == 0xF4 && second >= 0x90) valid = 0;
    }
    if (valid && lead == 0xC2 && bytes[i + 1] <= 0x9F) {
      // The C1 controls (U+0080 to U+009F), which some terminals obey.
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", bytes[i + 1]);
      out += escaped;
      i += count;
    } else if (valid) {
      out.Append(reinterpret_cast<const char*>(bytes + i), count);
      i += count;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

// The share of size that compression saved, in whole percent, as unzip shows it.
int RatioPercent(uint64_t size, uint64_t compressed) {
  if (size == 0) return 0;
  double saved = 100.0 - static_cast<double>(compressed) * 100.0 / static_cast<double>(size);
  return static_cast<int>(saved + (saved >= 0 ? 0.5 : -0.5));
}

const char kLongRule[] = "------------  ------------  -----  -------------------  --------  ----\n";

void PrintEntry(int format, const ArchiveEntryInfo& entry) {
  const LocalTimeFields& t = entry.time;
  char when[32];
  snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
           t.minute, t.second);
  unsigned long long size = entry.size;
  unsigned long long compressed = entry.compressedSize;
  unsigned crc = entry.crc;
  if (format == kListJson) {
    Text utf8 = entry.utf8Name ? entry.name : Windows1252ToUtf8(entry.name);
    when[10] = 'T';
    printf(
        "{\"name\":\"%s\",\"kind\":\"%s\",\"size\":%llu,\"compressed\":%llu,"
        "\"time\":\"%s\",\"crc32\":\"%08x\"}\n",
        IsRootEntry(entry) ? "" : JsonString(utf8).c_str(), entry.isFolder ? "folder" : "file",
        size, compressed, when, crc);
    return;
  }
  Text name = ShownName(entry.name, entry.utf8Name);
  if (format == kListLong) {
    printf("%12llu  %12llu  %4d%%  %s  %08x  %s\n", size, compressed,
           RatioPercent(size, compressed), when, crc, name.IsEmpty() ? kRootShown : name.c_str());
  } else if (format == kListTsv) {
    printf("%s\t%llu\t%llu\t%s\t%08x\t%s\n", IsRootEntry(entry) ? "" : name.c_str(), size,
           compressed, when, crc, entry.isFolder ? "folder" : "file");
  } else {
    printf("%s\t%llu\t%llu\t%s\t%08x\n", name.c_str(), size, compressed, when, crc);
  }
}

// Ctrl+C, a kill or a closed terminal: the part files being written go, and
// a progress line on screen is ended.
void OnUnpackInterrupt() {
  RemovePartFileInProgress();
  SayInterrupted();
}

}  // namespace

int RunListCommand(int argc, char** argv) {
  static const struct option kOptions[] = {
      {"long", no_argument, nullptr, 'l'},         {"tsv", no_argument, nullptr, kOptionTsv},
      {"json", no_argument, nullptr, kOptionJson}, {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0}};
  int format = isatty(1) ? kListLong : kListPlain;
  int quiet = 0;
  StartOptions();
  for (int option; (option = NextOption("list", argc, argv, "lqh", kOptions)) != -1;) {
    switch (option) {
      case 'l': format = kListLong; break;
      case kOptionTsv: format = kListTsv; break;
      case kOptionJson: format = kListJson; break;
      case 'q': quiet = 1; break;
      case 'h': fputs(kListHelp, stdout); return kExitSuccess;
      default: return kExitUsage;
    }
  }
  if (optind >= argc) return UsageError("list", "missing FILE");
  if (optind + 1 < argc) return UsageError("list", "extra argument '%s'", argv[optind + 1]);
  const char* file = argv[optind];
  SetNativePaths(1);  // FILE as typed: "\" is part of a name here
  int opened = OpenArchiveChecked(file, kWideSearchBytes);
  if (opened != 0) {
    ReportUnopened("list", file, opened);
    return kExitFailure;
  }
  int header = format == kListLong && !quiet;
  if (header) {
    printf("%12s  %12s  %5s  %-19s  %-8s  %s\n%s", "Size", "Compressed", "Ratio", "Date       Time",
           "CRC-32", "Name", kLongRule);
  }
  int status = kExitSuccess;
  int64_t listed = 0;
  uint64_t totalSize = 0;
  uint64_t totalCompressed = 0;
  int position = GoToFirstEntry();
  while (position == 0) {
    ArchiveEntryInfo entry;
    int result = GetCurrentEntryInfo(&entry);
    if (result != 0) {
      fprintf(stderr, "vezovud list: %s\n", ReaderResultText(result).c_str());
      status = kExitFailure;
      break;
    }
    PrintEntry(format, entry);
    totalSize += entry.size;
    totalCompressed += entry.compressedSize;
    ++listed;
    position = GoToNextEntry();
  }
  if (header) {
    printf("%s%12llu  %12llu  %4d%%  %19s  %8s  %lld %s\n", kLongRule,
           static_cast<unsigned long long>(totalSize),
           static_cast<unsigned long long>(totalCompressed),
           RatioPercent(totalSize, totalCompressed), "", "", static_cast<long long>(listed),
           listed == 1 ? "entry" : "entries");
  }
  // The list ends at the last entry; a reader that cannot reach the next
  // one leaves the rest unlisted, as test and unpack would leave them.
  if (status == kExitSuccess && position != kReaderEndOfEntries) {
    ArchiveGlobalInfo info = {0, 0};
    GetArchiveInfo(&info);
    fprintf(stderr, "vezovud list: %lld entries were not reached\n",
            static_cast<long long>(info.entryCount - listed));
    status = kExitFailure;
  }
  CloseArchive();
  return status;
}

int RunTestCommand(int argc, char** argv) {
  static const struct option kOptions[] = {{"quiet", no_argument, nullptr, 'q'},
                                           {"verbose", no_argument, nullptr, 'v'},
                                           {"help", no_argument, nullptr, 'h'},
                                           {nullptr, 0, nullptr, 0}};
  int quiet = 0;
  int verbose = 0;
  StartOptions();
  for (int option; (option = NextOption("test", argc, argv, "qvh", kOptions)) != -1;) {
    switch (option) {
      case 'q': quiet = 1; break;
      case 'v': verbose = 1; break;
      case 'h': fputs(kTestHelp, stdout); return kExitSuccess;
      default: return kExitUsage;
    }
  }
  if (optind >= argc) return UsageError("test", "missing FILE");
  if (optind + 1 < argc) return UsageError("test", "extra argument '%s'", argv[optind + 1]);
  SetNativePaths(1);
  return RunEngine("test", argv[optind], nullptr, kRunTest, 1, quiet, verbose);
}

int RunUnpackCommand(int argc, char** argv) {
  static const struct option kOptions[] = {{"destination", required_argument, nullptr, 'd'},
                                           {"jobs", required_argument, nullptr, 'j'},
                                           {"quiet", no_argument, nullptr, 'q'},
                                           {"verbose", no_argument, nullptr, 'v'},
                                           {"help", no_argument, nullptr, 'h'},
                                           {nullptr, 0, nullptr, 0}};
  // Files are inflated and created by as many threads as there are
  // processors, unless --jobs says otherwise.
  int32_t jobs = ProcessorCount();
  const char* destination = nullptr;
  int quiet = 0;
  int verbose = 0;
  StartOptions();
  for (int option; (option = NextOption("unpack", argc, argv, "d:j:qvh", kOptions)) != -1;) {
    switch (option) {
      case 'd': destination = optarg; break;
      case 'j':
        if (!ReadJobsOption("unpack", "--jobs", optarg, kMaxExtractionWriters, &jobs)) {
          return kExitUsage;
        }
        break;
      case 'q': quiet = 1; break;
      case 'v': verbose = 1; break;
      case 'h': fputs(kUnpackHelp, stdout); return kExitSuccess;
      default: return kExitUsage;
    }
  }
  int operands = argc - optind;
  int wanted = destination == nullptr ? 2 : 1;
  if (operands == 0) return UsageError("unpack", "missing FILE");
  if (operands < wanted) return UsageError("unpack", "missing DEST (or -d DEST)");
  if (operands > wanted) {
    return UsageError("unpack", "extra argument '%s'", argv[optind + wanted]);
  }
  const char* file = argv[optind];
  if (destination == nullptr) destination = argv[optind + 1];
  if (destination[0] == 0) return UsageError("unpack", "the destination is an empty name");
  // FILE and DEST as typed: "\" is part of a name here, not a separator.
  SetNativePaths(1);
  // Ctrl+C, a kill or a closed terminal removes the part files being
  // written; files already whole stay. The exit status is then 128 plus the
  // signal's number.
  SetInterruptLine(quiet ? nullptr
                         : "vezovud unpack: interrupted; the files extracted whole stay, "
                           "the ones being written are removed\n");
  CatchInterrupts(OnUnpackInterrupt);
  // Part files that killed runs left go from the folders this run writes in.
  SetLeftPartSweep(RemoveLeftPartFiles);
  // A full disk ends the run at the first write it fails, said in one line;
  // the steps carry byte counts for the progress line.
  SetStopOnFullDisk(1);
  SetStepByteCounts(1);
  return RunEngine("unpack", file, destination, kRunExtract, jobs, quiet, verbose);
}
