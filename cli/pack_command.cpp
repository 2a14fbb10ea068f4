// The `vezovud pack` command: packs a folder into a self-extracting output
// file through the same build steps as the Maker's job, without the pause
// between chunks and with one deflating thread per processor unless told.
// Progress goes to stderr on a terminal; the last line of stdout is the
// summary. An interrupt removes the job's temporary folder and part file
// before the process ends.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "archive/folder_archiver.h"
#include "archive/parallel_deflate.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "pack/build_steps.h"
#include "pack/prepare.h"
#include "resources/embedded.h"
#include "runtime/file.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"
#include "runtime/name_encoding.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/thread.h"

VEZOVUD_DECLARE_EMBEDDED(kDefaultStubImage);

namespace {

const int32_t kStubLimitBytes = 64 * 1024 * 1024;  // a stub larger than this is no stub

const char kPackHelp[] =
    "usage: vezovud pack [OPTIONS] FOLDER OUTPUT\n"
    "       vezovud pack [OPTIONS] -o OUTPUT FOLDER\n"
    "\n"
    "Packs every file below FOLDER into the self-extracting file OUTPUT.\n"
    "\n"
    "  -o, --output FILE        write the output to FILE\n"
    "      --stub FILE          write FILE as the stub instead of the built-in one\n"
    "  -x, --exclude PATTERN    leave out the items PATTERN matches (repeatable): a\n"
    "                           PATTERN without '/' is matched against each item's\n"
    "                           name at any depth, one with '/' against its path\n"
    "                           below FOLDER; '*', '?' and '|' (alternatives) as\n"
    "                           wildcards, case ignored; a folder left out is not\n"
    "                           entered\n"
    "      --exclude-from FILE  read patterns from FILE, one a line ('#' starts a\n"
    "                           comment line; blank lines are skipped)\n"
    "      --follow-links       follow links that lead outside FOLDER too\n"
    "  -j, --jobs N             deflate with N threads (default: one per processor,\n"
    "                           at most 16); 1 deflates one file after another.\n"
    "                           The output is the same bytes for every N.\n"
    "  -q, --quiet              no progress line\n"
    "  -v, --verbose            list every refused item, not 20 of each kind\n"
    "  -h, --help               show this help\n"
    "\n"
    "The whole folder is checked before anything is compressed. Nothing is\n"
    "written when an item cannot be stored whole: an unreadable file or folder, a\n"
    "dangling link, a link leading outside FOLDER, a pipe, socket or device, a\n"
    "file or folder that changes while it is packed, a file of 4 GiB or more, a\n"
    "name Windows cannot hold or would merge with another, an OUTPUT inside\n"
    "FOLDER, or an OUTPUT that is no file (a folder, a device, a FIFO).\n"
    "\n"
    "SOURCE_DATE_EPOCH, when set (seconds since 1970 UTC), is the latest time\n"
    "stored: later times are stored as it, for outputs that are the same bytes\n"
    "whenever the same files are packed. TMPDIR names the temporary folder.\n"
    "\n"
    "Exit status: 0 written, 1 not written, 2 usage; 130, 143 or 129 after\n"
    "SIGINT, SIGTERM or SIGHUP, which remove the temporary files first.\n";

// Long options without a letter of their own.
enum { kOptionStub = 256, kOptionFollowLinks, kOptionExcludeFrom };

const int32_t kShownPerKind = 20;        // refused items listed per kind without --verbose
const int32_t kShareSteps = 10000;       // hundredths of a percent
const int32_t kPatternLineBytes = 4096;  // the longest line read from --exclude-from

// The archiver's progress: bytes once the byte count has a total, else the
// share of files; the name of the file at hand either way.
int64_t gBytesDone = 0;
int64_t gBytesTotal = 0;

int32_t OnFileProgress(const Text& fileName, float percent) {
  Text shown = PrintableName(FileNamePart(fileName));
  if (gBytesTotal > 0) {
    ShowProgress(kProgressBytes, gBytesDone, gBytesTotal, shown);
  } else {
    ShowProgress(kProgressShare, static_cast<int64_t>(percent * (kShareSteps / 100)), kShareSteps,
                 shown);
  }
  return 0;
}

void OnBytesProgress(int64_t done, int64_t total) {
  if (total <= 0) return;
  gBytesDone = done;
  gBytesTotal = total;
  ShowProgress(kProgressBytes, done, total, Text());
}

void OnPackInterrupt() {
  RemoveDebrisNow();
  SayInterrupted();
}

// The kinds of refused items, in the order they are listed, each with its
// heading and what it means.
const struct {
  int32_t kind;
  const char* heading;
  const char* meaning;
} kProblemGroups[] = {
    {kProblemDanglingLink, "dangling links", "links to nothing"},
    {kProblemLinkOutside, "links outside the folder", "--follow-links follows them"},
    {kProblemCaseTwin, "case twins",
     "names that differ from another in their folder only in case; Windows would merge them"},
    {kProblemTrailingDot, "trailing dots or spaces", "Windows drops them from a name"},
    {kProblemBadName, "names Windows cannot hold", nullptr},
    {kProblemNotUtf8, "names not in UTF-8", nullptr},
    {kProblemSpecialFile, "special files", "pipes, sockets or devices hold no data to store"},
    {kProblemFolderUnreadable, "unreadable folders", nullptr},
    {kProblemUnreadable, "unreadable files", nullptr},
    {kProblemTooLarge, "files of 4 GiB or more", nullptr},
    {kProblemChanged, "changed while packed", nullptr},
    {kProblemEntryFailed, "entries not stored", nullptr},
    {kProblemArchiveFailed, "archive not written", nullptr},
    {0, "other items left out", nullptr},
};

// The group a problem kind is listed under.
int32_t GroupOf(int32_t kind) {
  const int32_t last = sizeof kProblemGroups / sizeof kProblemGroups[0] - 1;
  for (int32_t g = 0; g < last; ++g) {
    if (kProblemGroups[g].kind == kind) return g;
  }
  return last;
}

// ": reason" in the system's words, or nothing for no reason.
Text ReasonSuffix(int32_t reason) {
  if (reason == 0) return Text();
  return Text(": ") + SystemErrorText(reason);
}

// Lists the archiver's problems: a headline whose count is the number of
// items below it, then each kind with its count, at most kShownPerKind
// items each unless verbose. Running out of files to open fails every item
// after it the same way: that is said once.
void PrintProblems(int verbose) {
  const int32_t groups = sizeof kProblemGroups / sizeof kProblemGroups[0];
  int32_t counts[groups];
  for (int32_t g = 0; g < groups; ++g) counts[g] = 0;
  int32_t outOfFiles = 0;
  int32_t outOfFilesReason = 0;
  for (int32_t i = 0; i < ArchiverProblemCount(); ++i) {
    int32_t reason = ArchiverProblemReason(i);
    if (IsOutOfOpenFiles(reason)) {
      ++outOfFiles;
      outOfFilesReason = reason;
    } else {
      ++counts[GroupOf(ArchiverProblemKind(i))];
    }
  }
  int32_t total = ArchiverProblemCount();
  fprintf(stderr, "vezovud pack: not written: %d %s cannot be stored whole\n",
          static_cast<int>(total), total == 1 ? "item" : "items");
  for (int32_t g = 0; g < groups; ++g) {
    if (counts[g] == 0) continue;
    const char* meaning = kProblemGroups[g].meaning;
    fprintf(stderr, "%s: %d%s%s%s\n", kProblemGroups[g].heading, static_cast<int>(counts[g]),
            meaning != nullptr ? " (" : "", meaning != nullptr ? meaning : "",
            meaning != nullptr ? ")" : "");
    int32_t shown = 0;
    for (int32_t i = 0; i < ArchiverProblemCount(); ++i) {
      int32_t reason = ArchiverProblemReason(i);
      if (IsOutOfOpenFiles(reason) || GroupOf(ArchiverProblemKind(i)) != g) continue;
      if (!verbose && shown == kShownPerKind) break;
      ++shown;
      fprintf(stderr, "  %s%s\n", PrintableName(ArchiverProblemPath(i)).c_str(),
              ReasonSuffix(reason).c_str());
    }
    if (shown < counts[g]) {
      fprintf(stderr, "  ... and %d more (--verbose lists them all)\n",
              static_cast<int>(counts[g] - shown));
    }
  }
  if (outOfFiles > 0) {
    fprintf(stderr,
            "the system ran out of files to open (%s): %d files or folders could not be read; "
            "raise the limit (ulimit -n) or pack with fewer --jobs\n",
            SystemErrorText(outOfFilesReason).c_str(), static_cast<int>(outOfFiles));
  }
}

// The path and reason of a full disk among the failure's causes: 1 when
// there is one.
int FindDiskFull(const BuildResult& result, Text* where, int32_t* reason) {
  if (IsDiskFull(result.reason)) {
    *where = result.where;
    *reason = result.reason;
    return 1;
  }
  for (int32_t i = 0; i < ArchiverProblemCount(); ++i) {
    int32_t problemReason = ArchiverProblemReason(i);
    if (IsDiskFull(problemReason)) {
      *where = ArchiverProblemPath(i);
      *reason = problemReason;
      return 1;
    }
  }
  return 0;
}

// BuildFailureText as the tail of "not written: ": without its own
// "No archive was written: ", lower case first, no full stop.
Text FailureClause(const BuildResult& result) {
  static const char kNotWritten[] = "No archive was written: ";
  const int32_t kNotWrittenBytes = sizeof kNotWritten - 1;
  Text text = BuildFailureText(result);
  if (text.Middle(0, kNotWrittenBytes) == kNotWritten) {
    text = text.Middle(kNotWrittenBytes, text.Length() - kNotWrittenBytes);
  }
  if (text.Last() == '.') text = text.Middle(0, text.Length() - 1);
  if (text.At(0) < 'A' || text.At(0) > 'Z') return text;
  Text lowered;
  lowered += static_cast<char>(text.At(0) - 'A' + 'a');
  lowered += text.Middle(1, text.Length() - 1);
  return lowered;
}

// Says, in one line where one does, why no output was written.
void ReportFailure(const BuildResult& result, const char* outputArg, int verbose) {
  Text diskWhere;
  int32_t diskReason = 0;
  if (FindDiskFull(result, &diskWhere, &diskReason)) {
    fprintf(stderr, "vezovud pack: not written: %s%s%s\n", SystemErrorText(diskReason).c_str(),
            diskWhere.IsEmpty() ? "" : " writing ", PrintableName(diskWhere).c_str());
    return;
  }
  if (result.failure == kBuildFilesLeftOut ||
      (result.failure == kBuildArchiveUnreadable && ArchiverProblemCount() > 0)) {
    if (ArchiverProblemCount() > 0) {
      PrintProblems(verbose);
    } else {
      fprintf(stderr,
              "vezovud pack: not written: %d files counted, %d added: the folder changed while it "
              "was packed\n",
              static_cast<int>(result.fileCount), static_cast<int>(result.addedCount));
    }
  } else if (result.failure == kBuildOutputFailed) {
    fprintf(stderr, "vezovud pack: not written: cannot create or write %s%s\n",
            PrintableName(outputArg).c_str(), ReasonSuffix(result.reason).c_str());
  } else if (result.failure == kBuildArchiveTooLarge) {
    fprintf(stderr, "vezovud pack: not written: %s: the archive has %lld bytes\n",
            FailureClause(result).c_str(), static_cast<long long>(result.archiveBytes));
  } else if (result.failure == kBuildOutputNotAFile || result.failure == kBuildOutputInSource) {
    fprintf(stderr, "vezovud pack: not written: %s: %s\n", FailureClause(result).c_str(),
            PrintableName(outputArg).c_str());
  } else {
    fprintf(stderr, "vezovud pack: not written: %s%s%s%s\n", FailureClause(result).c_str(),
            result.where.IsEmpty() ? "" : ": ", PrintableName(result.where).c_str(),
            ReasonSuffix(result.reason).c_str());
  }
}

// The patterns of --exclude and --exclude-from, in a block that grows.
struct PatternList {
  Text* items;
  int32_t count;
  int32_t capacity;
};

void AddPattern(PatternList* list, const Text& pattern) {
  if (list->count == list->capacity) {
    int32_t capacity = list->capacity == 0 ? 16 : list->capacity * 2;
    Text* items = new Text[capacity];
    for (int32_t i = 0; i < list->count; ++i) items[i] = static_cast<Text&&>(list->items[i]);
    delete[] list->items;
    list->items = items;
    list->capacity = capacity;
  }
  list->items[list->count++] = pattern;
}

// Adds the patterns of the file at path, one a line; blank lines and lines
// that start with "#" are skipped, and so is a line's final carriage
// return. 0 (with a usage error printed) when the file cannot be read.
int ReadPatternFile(const char* path, PatternList* list) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) {
    int error = errno;
    UsageError("pack", "--exclude-from: cannot read %s: %s", path, strerror(error));
    return 0;
  }
  char line[kPatternLineBytes];
  while (fgets(line, sizeof line, file) != nullptr) {
    size_t length = strlen(line);
    if (length == sizeof line - 1 && line[length - 1] != '\n' && !feof(file)) {
      fclose(file);
      UsageError("pack", "--exclude-from: %s: a line is longer than %d bytes", path,
                 static_cast<int>(sizeof line - 2));
      return 0;
    }
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
    if (length == 0 || line[0] == '#') continue;
    AddPattern(list, Text(line, static_cast<int>(length)));
  }
  int error = ferror(file) ? errno : 0;
  fclose(file);
  if (error != 0) {
    UsageError("pack", "--exclude-from: cannot read %s: %s", path, strerror(error));
    return 0;
  }
  return 1;
}

// Reads SOURCE_DATE_EPOCH: -1 when it is not set, else its decimal count of
// seconds; 0 (with a usage error printed) for anything else.
int ReadSourceDateEpoch(int64_t* newestTime) {
  const int64_t kMaxSeconds = 253402300799LL;  // 9999-12-31 23:59:59 UTC
  *newestTime = -1;
  const char* text = getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr) return 1;
  int64_t value = 0;
  int valid = text[0] != 0;
  for (const char* c = text; valid && *c != 0; ++c) {
    valid = *c >= '0' && *c <= '9';
    if (valid) value = value * 10 + (*c - '0');
    if (value > kMaxSeconds) valid = 0;
  }
  if (!valid) {
    UsageError("pack", "SOURCE_DATE_EPOCH: '%s' is not a count of seconds since 1970", text);
    return 0;
  }
  *newestTime = value;
  return 1;
}

// Reads a whole stub file into a new block; null on failure.
unsigned char* ReadStub(const Text& path, int32_t* bytes) {
  intptr_t file = OpenFileForReading(kAnyNumber, path);
  if (file == 0) return nullptr;
  int64_t length = FileLength(file);
  unsigned char* image = nullptr;
  if (length > 0 && length <= kStubLimitBytes) {
    image = static_cast<unsigned char*>(AllocateBlock(length));
    if (image != nullptr &&
        ReadBytes(file, image, static_cast<int32_t>(length)) != static_cast<int32_t>(length)) {
      FreeBlock(image);
      image = nullptr;
    }
  }
  CloseFileNumber(file);
  *bytes = image != nullptr ? static_cast<int32_t>(length) : 0;
  return image;
}

}  // namespace

int RunPackCommand(int argc, char** argv) {
  static const struct option kOptions[] = {
      {"output", required_argument, nullptr, 'o'},
      {"stub", required_argument, nullptr, kOptionStub},
      {"exclude", required_argument, nullptr, 'x'},
      {"exclude-from", required_argument, nullptr, kOptionExcludeFrom},
      {"follow-links", no_argument, nullptr, kOptionFollowLinks},
      {"jobs", required_argument, nullptr, 'j'},
      {"quiet", no_argument, nullptr, 'q'},
      {"verbose", no_argument, nullptr, 'v'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  const char* outputArg = nullptr;
  const char* stubArg = nullptr;
  int quiet = 0;
  int verbose = 0;
  int32_t linkMode = kLinksWithinFolder;
  int32_t jobs = ProcessorCount();
  PatternList excludes = {nullptr, 0, 0};
  int usage = 0;
  StartOptions();
  for (int option;
       usage == 0 && (option = NextOption("pack", argc, argv, "o:x:j:qvh", kOptions)) != -1;) {
    switch (option) {
      case 'o': outputArg = optarg; break;
      case kOptionStub: stubArg = optarg; break;
      case 'x': AddPattern(&excludes, optarg); break;
      case kOptionExcludeFrom:
        if (!ReadPatternFile(optarg, &excludes)) usage = 1;
        break;
      case kOptionFollowLinks: linkMode = kLinksFollowAll; break;
      case 'j':
        if (!ReadJobsOption("pack", "--jobs", optarg, kMaxDeflateWorkers, &jobs)) usage = 1;
        break;
      case 'q': quiet = 1; break;
      case 'v': verbose = 1; break;
      case 'h':
        delete[] excludes.items;
        fputs(kPackHelp, stdout);
        return kExitSuccess;
      default: usage = 1; break;
    }
  }
  int operands = argc - optind;
  int wanted = outputArg == nullptr ? 2 : 1;
  const char* folderArg = operands > 0 ? argv[optind] : nullptr;
  if (outputArg == nullptr && operands > 1) outputArg = argv[optind + 1];
  int64_t newestTime = -1;
  if (usage == 0) {
    if (operands == 0) {
      usage = UsageError("pack", "missing FOLDER");
    } else if (operands < wanted) {
      usage = UsageError("pack", "missing OUTPUT (or -o OUTPUT)");
    } else if (operands > wanted) {
      usage = UsageError("pack", "extra argument '%s'", argv[optind + wanted]);
    } else if (folderArg[0] == 0) {
      usage = UsageError("pack", "the folder is an empty name");
    } else if (outputArg[0] == 0) {
      usage = UsageError("pack", "the output is an empty name");
    } else if (!ReadSourceDateEpoch(&newestTime)) {
      usage = 1;
    }
  }
  if (usage != 0) {
    delete[] excludes.items;
    return kExitUsage;
  }
  InitFolderArchiver();

  Text folder(folderArg);
  int64_t folderSize = PathSize(folder);
  if (folderSize != -2) {
    if (folderSize == -1) {
      Text reason = SystemErrorText(LastSystemError());
      fprintf(stderr, "vezovud pack: not written: cannot read the folder %s: %s\n",
              PrintableName(folderArg).c_str(), reason.c_str());
    } else {
      fprintf(stderr, "vezovud pack: not written: %s is not a folder\n",
              PrintableName(folderArg).c_str());
    }
    delete[] excludes.items;
    return kExitFailure;
  }
  if (folder.Last() != kPathSeparator) folder += kPathSeparator;

  const unsigned char* stub = kDefaultStubImage;
  int32_t stubBytes = static_cast<int32_t>(kDefaultStubImage_size);
  unsigned char* stubCopy = nullptr;
  if (stubArg != nullptr) {
    stubCopy = ReadStub(stubArg, &stubBytes);
    if (stubCopy == nullptr) {
      int32_t error = LastSystemError();
      Text reason = error != 0 ? ReasonSuffix(error) : Text(": empty, or larger than a stub");
      fprintf(stderr, "vezovud pack: not written: cannot read the stub %s%s\n",
              PrintableName(stubArg).c_str(), reason.c_str());
      delete[] excludes.items;
      return kExitFailure;
    }
    stub = stubCopy;
  } else if (stubBytes == 0) {
    fprintf(stderr,
            "vezovud pack: not written: this vezovud has no stub built in; "
            "build the Windows programs or pass --stub FILE\n");
    delete[] excludes.items;
    return kExitFailure;
  }

  // A deep folder is walked with one folder held for each level.
  RaiseOpenFileLimit();
  // The temporary archive's name is drawn inside the job's private folder,
  // where other users' files cannot use up the names.
  BuildRequest request;
  request.sourceFolder = folder;
  request.outputFile = outputArg;
  request.tempArchive = TempDirectory();
  request.stubImage = stub;
  request.stubBytes = stubBytes;
  request.chunkPauseMs = 0;
  request.linkMode = linkMode;
  request.workers = jobs;
  request.excludes = excludes.items;
  request.excludeCount = excludes.count;
  request.newestTime = newestTime;
  // The whole folder is checked before anything is compressed, so that a
  // refusal comes in the time of a walk.
  request.checkFirst = 1;
  int shown = !quiet && isatty(2);
  StartProgress(shown);
  gBytesDone = 0;
  gBytesTotal = 0;
  SetArchiverProgressCallback(shown ? OnFileProgress : nullptr);
  SetArchiverBytesCallback(shown ? OnBytesProgress : nullptr);
  // An interrupt removes what the build steps note as debris: the private
  // folder with the temporary archive and spill files, and the part file.
  SetInterruptLine(quiet ? nullptr
                         : "vezovud pack: interrupted; nothing was written, the temporary "
                           "files are removed\n");
  CatchInterrupts(OnPackInterrupt);
  BuildResult result = RunBuildSteps(request);
  SetArchiverProgressCallback(nullptr);
  SetArchiverBytesCallback(nullptr);
  EndProgress();
  FreeBlock(stubCopy);
  delete[] excludes.items;

  if (result.failure != kBuildWritten) {
    ReportFailure(result, outputArg, verbose);
    FreeFolderArchiver();
    return kExitFailure;
  }
  printf("%s: %d files added, %lld bytes\n", outputArg, static_cast<int>(result.addedCount),
         static_cast<long long>(result.outputBytes));
  FreeFolderArchiver();
  return kExitSuccess;
}
