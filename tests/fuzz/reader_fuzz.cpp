// libFuzzer harness for the archive reader (native; scripts/fuzz.sh runs it). Each input is
// opened, listed, tested and extracted below a sandbox; it aborts when extraction leaves the
// destination, makes a symbolic link, reports a file written that is not there whole, extracts
// an entry that test refuses, or when writer threads give another tree than one thread.
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
#include <vector>

#include "archive/archive_reader.h"
#include "archive/central_directory.h"
#include "archive/entry_name.h"
#include "archive/extraction.h"
#include "runtime/filesystem.h"
#include "runtime/system.h"

namespace {

// Entries declaring more than kEntryLimitBytes are only listed, and a pass stops at
// kPassBudgetBytes declared in all: overlapping entries cannot fill the disk or stall the run.
const uint32_t kEntryLimitBytes = 4u << 20;
const uint64_t kPassBudgetBytes = 32u << 20;
// Entries visited per pass; an end record counts at most 65,535.
const int kEntryLimit = 70000;
// A backstop: no file written grows past this size (the write fails, SIGXFSZ is ignored).
const rlim_t kFileSizeLimitBytes = 16u << 20;

// The private folder holds the input and the sandbox; the destination lies three levels below
// the sandbox, so a name that climbs out of it lands in a folder the walk looks at.
std::string gRoot, gInput, gDestination;

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

// Property: an entry reported extracted is where the reader's landing rule puts it, a folder
// as a folder, a file as a regular file of its declared size.
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

// Removes the destination for the next input.
void ClearDestination() {
  struct stat facts;
  if (lstat(gDestination.c_str(), &facts) == 0 &&
      nftw(gDestination.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS) != 0)
    Fail("cannot clear", gDestination);
}

// Walks folder, recording what lies below the destination: each path with its size, -1 for a
// folder. Property: below the private folder only the input, the folders on the way to the
// destination and what lies below it, and no symbolic link anywhere (links are not followed).
void Walk(const std::string& folder, std::map<std::string, long long>* tree) {
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
    if (below) (*tree)[path] = S_ISDIR(facts.st_mode) ? -1 : static_cast<long long>(facts.st_size);
    if (S_ISDIR(facts.st_mode)) Walk(path, tree);
  }
  closedir(listing);
}

// Every call into the reader's API is here. Lists, tests, then extracts every entry, checking
// each one reported extracted; the other calls' results are only exercised, not judged.
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
  // Property: test and unpack agree; an entry that test refuses is never extracted (a name too
  // long for this destination aside, which test cannot know).
  uint64_t spent = 0;
  std::vector<int> verdicts;
  each([&] {
    bool affordable = GetCurrentEntryInfo(&info) == 0 && Affordable(info, &spent);
    verdicts.push_back(affordable ? TestCurrentEntry() : 0);
  });
  spent = 0;
  bool whole = global.entryCount <= kEntryLimit;  // every entry affordable
  size_t index = 0;
  each([&] {
    bool affordable = GetCurrentEntryInfo(&info) == 0 && Affordable(info, &spent);
    whole = whole && affordable;
    int verdict = index < verdicts.size() ? verdicts[index] : 0;
    ++index;
    if (!affordable || ExtractCurrentEntry(destination.c_str(), 1) != 0) return;
    if (verdict != 0 && verdict != kReaderNameTooLong) Fail("extracted what test refused", gInput);
    CheckExtracted(info);
  });
  CloseArchive();
  if (!whole) return;
  // Again with two writer threads: the same tree, file for file and size for size.
  std::map<std::string, long long> alone, threaded;
  Walk(gRoot, &alone);
  ClearDestination();
  ExtractionReport report;
  ExtractArchiveWithWriters(path.c_str(), destination.c_str(), 2, kStubSearchBytes, nullptr,
                            nullptr, &report);
  FreeExtractionReport(&report);
  Walk(gRoot, &threaded);
  if (alone != threaded) Fail("writer threads gave another tree", destination);
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
  for (const char* folder : {"/box", "/box/a", "/box/a/b"})
    if (mkdir((gRoot + folder).c_str(), 0700) != 0) Fail("cannot make the sandbox", gRoot);
  atexit(RemoveRoot);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteInput(data, size);
  ReadArchive(gInput, gDestination);
  std::map<std::string, long long> tree;
  Walk(gRoot, &tree);
  ClearDestination();
  return 0;
}
