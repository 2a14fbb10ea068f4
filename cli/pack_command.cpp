// The `vezovud pack` command: packs a folder into a self-extracting output
// file through the same build steps as the Maker's job, without the pause
// between chunks and with one deflating thread per processor unless told.
// Progress goes to stderr on a terminal; the last line of stdout is the
// summary. An interrupt removes the job's temporary folder and part file
// before the process ends.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "archive/folder_archiver.h"
#include "archive/parallel_deflate.h"
#include "cli/commands.h"
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
const int32_t kMaxExcludes = 256;

const char kPackUsage[] =
    "usage: vezovud pack FOLDER OUTPUT [--stub FILE] [--quiet] [--follow-links] [--jobs N]\n";

void PrintPackUsage() { fputs(kPackUsage, stderr); }

void PrintPackHelp() {
  fputs(kPackUsage, stdout);
  fputs(
      "\n"
      "Packs every file below FOLDER into the self-extracting file OUTPUT.\n"
      "\n"
      "  --stub FILE     write FILE as the stub instead of the built-in one\n"
      "  --quiet         no progress on stderr\n"
      "  --follow-links  follow links that lead outside FOLDER too\n"
      "  --jobs N        deflate with N threads (default: one per processor,\n"
      "                  at most 16); --jobs 1 deflates one file after another.\n"
      "                  The output is the same bytes for every N.\n"
      "\n"
      "Nothing is written when an item cannot be stored whole: an unreadable\n"
      "file or folder, a dangling link, a link leading outside FOLDER, a pipe,\n"
      "socket or device, a file or folder that changes while it is packed, a\n"
      "file of 4 GiB or more, a name Windows cannot hold or would merge with\n"
      "another, an OUTPUT inside FOLDER, or an OUTPUT that is no file (a\n"
      "folder, a device, a FIFO).\n"
      "\n"
      "Exit status: 0 written, 1 not written, 2 usage; 130, 143 or 129 after\n"
      "SIGINT, SIGTERM or SIGHUP, which remove the temporary files first.\n",
      stdout);
}

int32_t TerminalProgress(const Text& fileName, float percent) {
  if (fileName.IsEmpty()) {
    fprintf(stderr, "\r[100%%]%-60s\r", "");
    fprintf(stderr, "\n");
  } else {
    fprintf(stderr, "\r[%3d%%] %-60.60s", static_cast<int>(percent),
            FileNamePart(fileName).c_str());
  }
  fflush(stderr);
  return 0;
}

const char* ProblemText(int32_t kind) {
  switch (kind) {
    case kProblemUnreadable: return "could not be read";
    case kProblemTooLarge: return "is 4 GiB or larger";
    case kProblemBadName: return "has a name Windows cannot hold";
    case kProblemEntryFailed: return "could not be stored";
    case kProblemArchiveFailed: return "could not be written";
    case kProblemFolderUnreadable: return "is a folder that could not be listed";
    case kProblemSpecialFile: return "is a pipe, socket or device, not a file";
    case kProblemDanglingLink: return "is a link to nothing";
    case kProblemLinkOutside:
      return "is a link leading outside the folder (--follow-links follows it)";
    case kProblemChanged: return "changed while it was packed";
    case kProblemCaseTwin:
      return "differs from another name in its folder only in case; Windows would merge them";
    case kProblemTrailingDot: return "ends in a dot or a space, which Windows drops";
    case kProblemNotUtf8: return "has a name that is not UTF-8";
    default: return "was left out";
  }
}

// " (reason)" in the system's words, or nothing for no reason.
Text ReasonSuffix(int32_t reason) {
  if (reason == 0) return Text();
  return Text(" (") + SystemErrorText(reason) + ")";
}

// Names every problem of the archiver's list with its reason. Running out of
// files to open fails every item after it the same way: that is said once.
void PrintProblems() {
  int32_t outOfFiles = 0;
  int32_t outOfFilesReason = 0;
  for (int32_t i = 0; i < ArchiverProblemCount(); ++i) {
    int32_t reason = ArchiverProblemReason(i);
    if (IsOutOfOpenFiles(reason)) {
      ++outOfFiles;
      outOfFilesReason = reason;
      continue;
    }
    fprintf(stderr, "  %s %s%s\n", PrintableName(ArchiverProblemPath(i)).c_str(),
            ProblemText(ArchiverProblemKind(i)), ReasonSuffix(reason).c_str());
  }
  if (outOfFiles > 0) {
    fprintf(stderr,
            "  the system ran out of files to open%s: %d files or folders could not be read; "
            "raise the limit (ulimit -n) or pack with fewer --jobs\n",
            ReasonSuffix(outOfFilesReason).c_str(), static_cast<int>(outOfFiles));
  }
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
  const char* folderArg = nullptr;
  const char* outputArg = nullptr;
  const char* stubArg = nullptr;
  int quiet = 0;
  int32_t linkMode = kLinksWithinFolder;
  int32_t jobs = ProcessorCount();
  Text excludes[kMaxExcludes];
  int32_t excludeCount = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      PrintPackHelp();
      return kExitSuccess;
    } else if (strcmp(argv[i], "--quiet") == 0) {
      quiet = 1;
    } else if (strcmp(argv[i], "--follow-links") == 0) {
      linkMode = kLinksFollowAll;
    } else if (strcmp(argv[i], "--stub") == 0) {
      if (i + 1 >= argc) {
        PrintPackUsage();
        return kExitUsage;
      }
      stubArg = argv[++i];
    } else if (strcmp(argv[i], "--exclude") == 0) {
      if (i + 1 >= argc || excludeCount == kMaxExcludes) {
        PrintPackUsage();
        return kExitUsage;
      }
      excludes[excludeCount++] = Text(argv[++i]);
    } else if (strcmp(argv[i], "--jobs") == 0) {
      if (i + 1 >= argc || !ParseJobs(argv[i + 1], kMaxDeflateWorkers, &jobs)) {
        PrintPackUsage();
        return kExitUsage;
      }
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      fprintf(stderr, "vezovud pack: unknown option %s\n", argv[i]);
      PrintPackUsage();
      return kExitUsage;
    } else if (folderArg == nullptr) {
      folderArg = argv[i];
    } else if (outputArg == nullptr) {
      outputArg = argv[i];
    } else {
      PrintPackUsage();
      return kExitUsage;
    }
  }
  if (folderArg == nullptr || outputArg == nullptr || folderArg[0] == 0 || outputArg[0] == 0) {
    PrintPackUsage();
    return kExitUsage;
  }
  InitFolderArchiver();

  Text folder(folderArg);
  int64_t folderSize = PathSize(folder);
  if (folderSize != -2) {
    Text reason = folderSize == -1 ? ReasonSuffix(LastSystemError()) : Text();
    fprintf(stderr, "vezovud pack: not written: %s is not a folder%s\n",
            PrintableName(folderArg).c_str(), reason.c_str());
    return kExitFailure;
  }
  if (folder.Last() != kPathSeparator) folder += kPathSeparator;

  const unsigned char* stub = kDefaultStubImage;
  int32_t stubBytes = static_cast<int32_t>(kDefaultStubImage_size);
  unsigned char* stubCopy = nullptr;
  if (stubArg != nullptr) {
    stubCopy = ReadStub(stubArg, &stubBytes);
    if (stubCopy == nullptr) {
      Text reason = ReasonSuffix(LastSystemError());
      fprintf(stderr, "vezovud pack: not written: cannot read the stub %s%s\n",
              PrintableName(stubArg).c_str(), reason.c_str());
      return kExitFailure;
    }
    stub = stubCopy;
  } else if (stubBytes == 0) {
    fprintf(stderr,
            "vezovud pack: not written: this vezovud has no stub built in; "
            "build the Windows programs or pass --stub FILE\n");
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
  request.excludes = excludes;
  request.excludeCount = excludeCount;
  request.checkFirst = 1;
  const char* epoch = getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr && epoch[0] >= '0' && epoch[0] <= '9') {
    request.newestTime = strtoll(epoch, nullptr, 10);
  }
  SetArchiverProgressCallback(!quiet && isatty(2) ? TerminalProgress : nullptr);
  // An interrupt removes what the build steps note as debris: the private
  // folder with the temporary archive and spill files, and the part file.
  CatchInterrupts(RemoveDebrisNow);
  BuildResult result = RunBuildSteps(request);
  SetArchiverProgressCallback(nullptr);
  FreeBlock(stubCopy);

  if (result.failure != kBuildWritten) {
    fprintf(stderr, "vezovud pack: %s\n", BuildFailureText(result).c_str());
    if (result.failure == kBuildFilesLeftOut ||
        (result.failure == kBuildArchiveUnreadable && ArchiverProblemCount() > 0)) {
      PrintProblems();
      if (ArchiverProblemCount() == 0) {
        fprintf(stderr, "  %d files counted, %d added: the folder changed while it was packed\n",
                static_cast<int>(result.fileCount), static_cast<int>(result.addedCount));
      }
    } else if (result.failure == kBuildArchiveTooLarge) {
      fprintf(stderr, "  archive of %lld bytes\n", static_cast<long long>(result.archiveBytes));
    } else if (!result.where.IsEmpty()) {
      fprintf(stderr, "  %s%s\n", PrintableName(result.where).c_str(),
              ReasonSuffix(result.reason).c_str());
    }
    FreeFolderArchiver();
    return kExitFailure;
  }
  printf("%s: %d files added, %lld bytes\n", outputArg, static_cast<int>(result.addedCount),
         static_cast<long long>(result.outputBytes));
  FreeFolderArchiver();
  return kExitSuccess;
}

int ParseJobs(const char* text, int32_t limit, int32_t* jobs) {
  int32_t value = 0;
  if (text[0] == 0) return 0;
  for (const char* c = text; *c != 0; ++c) {
    if (*c < '0' || *c > '9') return 0;
    if (value < limit) value = value * 10 + (*c - '0');
  }
  if (value < 1) return 0;
  *jobs = value < limit ? value : limit;
  return 1;
}
