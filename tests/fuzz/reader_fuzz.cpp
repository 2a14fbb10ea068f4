// libFuzzer harness for the archive reader. Each input is written to a file
// in a private folder, opened, listed, tested and extracted below a sandbox;
// the process aborts when extraction leaves the destination folder, makes a
// symbolic link, or reports a file as written that is not there whole, or
// when extracting with writer threads gives another tree than one thread.
// Native only (POSIX calls check the reader from outside); scripts/fuzz.sh
// builds and runs it.
#include <dirent.h>
#include <ftw.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "archive/archive_reader.h"
#include "archive/central_directory.h"
#include "archive/entry_name.h"
#include "archive/extraction.h"
#include "runtime/filesystem.h"
#include "runtime/system.h"

namespace {

// The reader never inflates an entry past its declared size. Entries that
// declare more than kEntryLimitBytes are listed but not tested or extracted,
// and each pass over one input stops at kPassBudgetBytes declared in all, so
// an input of overlapping entries cannot fill the disk or stall the run.
const uint32_t kEntryLimitBytes = 4u << 20;
const uint64_t kPassBudgetBytes = 32u << 20;
// Entries visited per pass; an end record counts at most 65,535.
const int kEntryLimit = 70000;
// A backstop for the above: no file this process writes grows past this size
// (the write fails instead of the process being killed by SIGXFSZ).
const rlim_t kFileSizeLimitBytes = 16u << 20;

// The private folder (mode 0700) holds the input file and the sandbox; the
// destination lies three levels below the sandbox, so a name that climbs out
// of it lands in a folder the walk looks at.
std::string gRoot;
std::string gInput;
std::string gDestination;

void Fail(const char* what, const std::string& path) {
  fprintf(stderr, "reader_fuzz: %s: %s\n", what, path.c_str());
  __builtin_trap();
}

void WriteInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(gInput.c_str(), "wb");
  if (file == nullptr) Fail("cannot write the input file", gInput);
  if (size > 0 && fwrite(data, 1, size, file) != size) Fail("cannot write the input file", gInput);
  if (fclose(file) != 0) Fail("cannot write the input file", gInput);
}

// Property: an entry reported as extracted is there, below the destination,
// where the reader's own landing rule puts it: a folder entry as a folder, a
// file entry as a regular file of its declared size.
void CheckExtracted(const ArchiveEntryInfo& info) {
  Text name = DropDrivePrefix(CleanEntryName(info.name));
  bool folder = info.isFolder || name.IsEmpty() || name.Last() == '\\';
  if (folder && !name.IsEmpty() && name.Last() != '\\') name += '\\';
  Text base;
  std::string path = LandingPath((gDestination + "/").c_str(), name, info.utf8Name, &base).c_str();
  if (path.empty()) Fail("entry reported extracted without a path", gDestination);
  struct stat facts;
  if (lstat(path.c_str(), &facts) != 0) Fail("entry reported extracted but missing", path);
  if (folder) {
    if (!S_ISDIR(facts.st_mode)) Fail("folder entry reported extracted but no folder", path);
    return;
  }
  if (!S_ISREG(facts.st_mode) || static_cast<uint64_t>(facts.st_size) != info.size) {
    Fail("file reported extracted but not whole", path);
  }
}

// Spends an entry's declared size from a pass's budget; 0 to skip the entry.
int Affordable(const ArchiveEntryInfo& info, uint64_t* spent) {
  if (info.size > kEntryLimitBytes || *spent + info.size > kPassBudgetBytes) return 0;
  *spent += info.size;
  return 1;
}

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// Empties the destination for the next input (the folder itself goes too).
void ClearDestination() {
  struct stat facts;
  if (lstat(gDestination.c_str(), &facts) != 0) return;
  if (nftw(gDestination.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS) != 0) {
    Fail("cannot clear", gDestination);
  }
}

// Everything below folder: each path with its size, -1 for a folder.
void Snapshot(const std::string& folder, std::map<std::string, long long>* tree) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  for (struct dirent* item; (item = readdir(listing)) != nullptr;) {
    std::string name = item->d_name, path = folder + "/" + name;
    struct stat facts;
    if (name == "." || name == ".." || lstat(path.c_str(), &facts) != 0) continue;
    (*tree)[path] = S_ISDIR(facts.st_mode) ? -1 : static_cast<long long>(facts.st_size);
    if (S_ISDIR(facts.st_mode)) Snapshot(path, tree);
  }
  closedir(listing);
}

// ---------------------------------------------------------------------------
// Every call into the reader's API is in this one function: switching the
// harness to another extraction entry point changes only what is below.
// Opens the archive in path; lists every entry, tests every entry, then
// extracts every entry below destination, checking each one reported as
// extracted. The results of the other calls are only exercised, not judged.
void ReadArchive(const std::string& path, const std::string& destination) {
  if (OpenArchiveForReading(path.c_str()) == 0) return;
  ArchiveGlobalInfo global;
  ArchiveEntryInfo info;
  if (GetArchiveInfo(&global) != 0 || global.entryCount == 0) {
    CloseArchive();
    return;
  }
  auto each = [](auto visit) {  // every entry from the first, at most kEntryLimit
    if (GoToFirstEntry() != 0) return;
    int count = 0;
    do visit();
    while (++count < kEntryLimit && GoToNextEntry() == 0);
  };
  each([&] { GetCurrentEntryInfo(&info); });
  uint64_t spent = 0;
  each([&] {
    if (GetCurrentEntryInfo(&info) == 0 && Affordable(info, &spent)) TestCurrentEntry();
  });
  spent = 0;
  bool whole = global.entryCount <= kEntryLimit;  // every entry affordable
  each([&] {
    bool affordable = GetCurrentEntryInfo(&info) == 0 && Affordable(info, &spent);
    whole = whole && affordable;
    if (affordable && ExtractCurrentEntry(destination.c_str(), 1) == 0) CheckExtracted(info);
  });
  CloseArchive();
  if (!whole) return;
  // The same archive once more through the engine with two writer threads:
  // the same tree, file for file and size for size.
  std::map<std::string, long long> alone, threaded;
  Snapshot(destination, &alone);
  ClearDestination();
  ExtractionReport report;
  ExtractArchiveWithWriters(path.c_str(), destination.c_str(), 2, kStubSearchBytes, nullptr,
                            nullptr, &report);
  FreeExtractionReport(&report);
  Snapshot(destination, &threaded);
  if (alone != threaded) Fail("writer threads gave another tree", destination);
}
// ---------------------------------------------------------------------------

// Property: below the private folder there is only the input file, the
// folders leading to the destination and what lies below the destination,
// and nothing anywhere is a symbolic link. Walks without following links.
void CheckTree(const std::string& folder) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) Fail("cannot list", folder);
  for (struct dirent* item; (item = readdir(listing)) != nullptr;) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    struct stat facts;
    if (lstat(path.c_str(), &facts) != 0) Fail("cannot look at", path);
    if (S_ISLNK(facts.st_mode)) Fail("symbolic link made", path);
    bool below = path.compare(0, gDestination.size() + 1, gDestination + "/") == 0;
    bool onTheWay =
        gDestination.compare(0, path.size() + 1, path + "/") == 0 || path == gDestination;
    if (!below && !onTheWay && path != gInput) Fail("written outside the destination", path);
    if (S_ISDIR(facts.st_mode)) CheckTree(path);
  }
  closedir(listing);
}

void RemoveRoot() {
  if (!gRoot.empty()) nftw(gRoot.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitRuntime();
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_max > kFileSizeLimitBytes) {
    limit.rlim_cur = kFileSizeLimitBytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  const char* temp = getenv("TMPDIR");
  std::string pattern =
      std::string(temp != nullptr && *temp != 0 ? temp : "/tmp") + "/vezovud-fuzz-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) Fail("cannot make a private folder", pattern);
  gRoot = pattern;
  gInput = gRoot + "/input.exe";
  gDestination = gRoot + "/box/a/b/destination";
  if (mkdir((gRoot + "/box").c_str(), 0700) != 0 || mkdir((gRoot + "/box/a").c_str(), 0700) != 0 ||
      mkdir((gRoot + "/box/a/b").c_str(), 0700) != 0) {
    Fail("cannot make the sandbox", gRoot);
  }
  atexit(RemoveRoot);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteInput(data, size);
  ReadArchive(gInput, gDestination);
  CheckTree(gRoot);
  ClearDestination();
  return 0;
}
