// The steps that make an output file from a folder, as the Maker and `vezovud pack` run them:
// the output's layout whatever the workers, the temporary name, the outputs refused, the part
// file's name.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/folder_archiver.h"
#include "pack/build_steps.h"
#include "pack/prepare.h"
#include "runtime/random.h"
#include "runtime/system.h"
#include "runtime/test_support.h"
#include "support/zip_writer.h"
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace test_support;
typedef std::vector<unsigned char> Bytes;

namespace {

const unsigned char kFakeStub[] = {'M', 'Z', 1, 2, 3, 4, 5, 6, 7, 8};
const Bytes kOld = {'o', 'l', 'd'};

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    InitFolderArchiver();
    ASSERT_TRUE(MakeFolder(source_ + "sub"));
    for (const char* name : {"a.txt", ".hidden", "sub/b.txt"})
      ASSERT_TRUE(WriteWholeFile(source_ + name, PatternBytes(300000)));  // three chunks
  }
  void TearDown() override { FreeFolderArchiver(); }

  BuildResult Build(const std::string& output, const Text& temp, int32_t workers = 1,
                    int32_t checkFirst = 0) {
    BuildRequest request = {source_.c_str(), output.c_str(), temp, kFakeStub, sizeof(kFakeStub),
                            0, kLinksWithinFolder, workers};
    request.checkFirst = checkFirst;
    return RunBuildSteps(request);
  }
  // The names in the work folder: a build leaves no temporary file or folder.
  std::vector<std::string> WorkNames() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(work_.Path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder work_;
  std::string source_ = work_.Join("src") + Separator();
};

// The stub, the archive as the archiver writes it in turn and its length; two workers deflate.
TEST_F(PackTest, OutputIsTheStubTheArchiveAndItsLength) {
#ifndef _WIN32
  // A link that loops is followed by neither the count nor the walk.
  ASSERT_EQ(0, symlink("..", (source_ + "sub/loop").c_str()));
#endif
  std::string alone = work_.Join("alone.zip");
  ASSERT_EQ(3, AddFolderToArchive(alone.c_str(), (source_ + "*.*").c_str(), kNameRelative, 1, 0,
                                  kLinksWithinFolder));
  Bytes archive = ReadWholeFile(alone);
  Bytes expected(kFakeStub, kFakeStub + sizeof(kFakeStub));
  expected.insert(expected.end(), archive.begin(), archive.end());
  for (int i = 0; i < 4; ++i) expected.push_back((uint8_t)(archive.size() >> (8 * i)));
  ASSERT_TRUE(RemoveFile(alone.c_str()));
  BuildResult result = Build(work_.Join("out.exe"), work_.Join("Vezovud1").c_str(), 2);
  EXPECT_EQ(kBuildWritten, result.failure);
  EXPECT_EQ(3, result.fileCount);
  EXPECT_EQ(3, result.addedCount);
  EXPECT_EQ((int64_t)archive.size(), result.archiveBytes);
  EXPECT_EQ((int64_t)expected.size(), result.outputBytes);
  EXPECT_TRUE(expected == ReadWholeFile(work_.Join("out.exe")));
  EXPECT_STREQ("", BuildFailureText(result).c_str());
  EXPECT_EQ(std::vector<std::string>({"out.exe", "src"}), WorkNames());
}

#ifndef _WIN32
TEST_F(PackTest, TempNameIsTheOneFreeNameThenNoneAndTheBuildSaysSo) {
  std::string tmp = work_.Join("tmp") + Separator();
  std::string saved = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  ASSERT_TRUE(MakeFolder(tmp));
  setenv("TMPDIR", tmp.c_str(), 1);
  auto expectNoPrivateFolder = [&] {
    for (const auto& e : std::filesystem::directory_iterator(tmp))
      EXPECT_NE(0u, e.path().filename().string().rfind("vezovud-", 0)) << "left behind";
  };
  for (int i = 0; i < kTempNameCount; ++i) {  // files and folders take names; 42 stays free
    std::string name = tmp + "Vezovud" + std::to_string(i);
    ASSERT_TRUE(i == 42 || (i % 2 ? MakeFolder(name) : WriteWholeFile(name, {1})));
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ(tmp + "Vezovud42", MakeTempArchiveName("Vezovud").c_str());
  // An archive planted under the drawn name before the build is neither added to nor touched:
  // the build's own archive lives in a private folder.
  std::string planted = testzip::BuildArchive({{"evil.txt", "planted"}});
  ASSERT_TRUE(WriteWholeFile(tmp + "Vezovud42", Bytes(planted.begin(), planted.end())));
  BuildResult result = Build(work_.Join("mine.exe"), (tmp + "Vezovud42").c_str());
  EXPECT_EQ(kBuildWritten, result.failure);
  EXPECT_EQ(3, result.addedCount);
  EXPECT_EQ(std::string::npos, testzip::ReadFile(work_.Join("mine.exe")).find("evil.txt"));
  EXPECT_TRUE(ReadWholeFile(tmp + "Vezovud42") == Bytes(planted.begin(), planted.end()));
  ASSERT_TRUE(RemoveFile((tmp + "Vezovud42").c_str()));
  expectNoPrivateFolder();
  ASSERT_TRUE(MakeFolder(tmp + "Vezovud42"));
  Text none = MakeTempArchiveName("Vezovud");
  EXPECT_STREQ("", none.c_str()) << "every name taken: no endless loop";
  EXPECT_EQ(kBuildNoTempName, Build(work_.Join("out.exe"), none).failure);
  EXPECT_FALSE(Exists(work_.Join("out.exe")));
  // Given the folder alone, the build draws the name inside its private folder: the names
  // others took in the shared folder are no obstacle.
  EXPECT_EQ(kBuildWritten, Build(work_.Join("out.exe"), tmp.c_str()).failure);
  expectNoPrivateFolder();
  saved.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved.c_str(), 1);
}
#endif

// Refused outputs: an existing file stays as it was, nothing is followed, nothing left behind;
// an output that exists and is no file is refused before anything is counted, its kind named.
TEST_F(PackTest, RefusedOutputsLeaveEverythingAsItWas) {
  std::string victim = work_.Join("victim");
  ASSERT_TRUE(WriteWholeFile(victim, kOld));
  ASSERT_TRUE(MakeFolder(work_.Join("afolder")));
  const struct {
    const char* label;
    std::string output;
    int32_t failure;
    std::string temp = "";  // the temporary archive's name; empty: Vezovud7 in the work folder
    const char* words = "";  // in the failure's text
  } rows[] = {
      {"folder missing", work_.Join("no") + Separator() + "out.exe", kBuildOutputFailed},
      {"inside the source", source_ + "out.exe", kBuildOutputInSource},
      {"inside, deeper", source_ + "sub" + Separator() + "out.exe", kBuildOutputInSource},
      // Its private folder would be packed along, and the source written to.
      {"temporary inside the source", work_.Join("out.exe"), kBuildTempInSource,
       source_ + "Vezovud7"},
      {"no temporary folder", work_.Join("out.exe"), kBuildNoPrivateFolder,
       work_.Join("gone") + Separator() + "Vezovud7"},
      {"a folder", work_.Join("afolder"), kBuildOutputNotAFile, "", "the output is a folder"},
#ifndef _WIN32
      {"inside through a link", work_.Join("alias") + Separator() + "out.exe",
       kBuildOutputInSource},
      {"a FIFO", work_.Join("fifo"), kBuildOutputNotAFile, "", "the output is a FIFO"},
      {"a device", "/dev/null", kBuildOutputNotAFile, "", "the output is a character device"},
      {"a link to a folder", work_.Join("folderlink"), kBuildOutputNotAFile, "",
       "the output is a link to a folder"},
      {"a link to a device", work_.Join("devicelink"), kBuildOutputNotAFile, "",
       "the output is a link to a character device"},
#endif
  };
#ifndef _WIN32
  ASSERT_EQ(0, symlink(source_.c_str(), work_.Join("alias").c_str()));
  ASSERT_EQ(0, mkfifo(work_.Join("fifo").c_str(), 0644));
  ASSERT_EQ(0, symlink(work_.Join("afolder").c_str(), work_.Join("folderlink").c_str()));
  ASSERT_EQ(0, symlink("/dev/null", work_.Join("devicelink").c_str()));
#endif
  std::vector<std::string> before = WorkNames();
  for (const auto& row : rows) for (int32_t checkFirst : {0, 1}) {
    SCOPED_TRACE(std::string(row.label) + (checkFirst ? ", checked first" : ""));
    bool existed = Exists(row.output);
    std::error_code error;
    auto kind = std::filesystem::symlink_status(row.output, error).type();
    BuildResult result = Build(
        row.output, (row.temp.empty() ? work_.Join("Vezovud7") : row.temp).c_str(), 1, checkFirst);
    EXPECT_EQ(row.failure, result.failure);
    // Checked first, an output that cannot be written is found before anything is compressed.
    if (checkFirst && row.failure == kBuildOutputFailed) {
      EXPECT_EQ(0, result.addedCount);
      EXPECT_NE(0, result.reason) << "the system's reason";
      EXPECT_EQ(row.output, result.where.c_str());
    }
    std::string text = BuildFailureText(result).c_str();
    EXPECT_NE("", text);
    EXPECT_NE(std::string::npos, text.find(row.words)) << text;
    if (row.failure == kBuildOutputNotAFile || row.failure == kBuildOutputInSource) {
      EXPECT_EQ(0, result.fileCount) << "refused before anything is counted";
    }
    if (row.failure == kBuildNoPrivateFolder) {
      EXPECT_NE(0, result.reason) << "the system's reason";
    }
    EXPECT_EQ(existed, Exists(row.output));
    EXPECT_EQ(kind, std::filesystem::symlink_status(row.output, error).type()) << "left as it was";
    EXPECT_EQ(before, WorkNames());
    EXPECT_EQ(4, std::distance(std::filesystem::recursive_directory_iterator(source_), {}));
  }
  EXPECT_TRUE(ReadWholeFile(victim) == kOld);
}

#ifndef _WIN32
// Checked first, every item that cannot be stored is named once before anything is compressed
// or created, and the headline counts that list.
TEST_F(PackTest, CheckedFirstProblemsComeBeforeTheWork) {
  ASSERT_TRUE(MakeFolder(source_ + "cache"));
  ASSERT_EQ(0, symlink("nowhere", (source_ + "cache/dangling").c_str()));
  ASSERT_EQ(0, symlink("nowhere", (source_ + "sub/gone").c_str()));
  ASSERT_TRUE(WriteWholeFile(source_ + "Twin.txt", kOld));
  ASSERT_TRUE(WriteWholeFile(source_ + "twin.TXT", kOld));
  std::string output = work_.Join("out.exe");
  std::vector<std::string> before = WorkNames();
  BuildResult refused = Build(output, work_.Join("Vezovud7").c_str(), 2, 1);
  EXPECT_EQ(kBuildFilesLeftOut, refused.failure);
  EXPECT_EQ(0, refused.addedCount) << "nothing compressed";
  EXPECT_EQ(3, ArchiverProblemCount()) << "each item once";
  std::string text = BuildFailureText(refused).c_str();
  EXPECT_NE(std::string::npos, text.find(": 3 files or folders")) << text;
  EXPECT_EQ(before, WorkNames()) << "no part file, no temporary folder";
}

// A full disk stops the build at the first write that fails, with one reason and one path,
// whether the temporary archive, a spill file or the part file meets it; it leaves nothing there.
TEST_F(PackTest, AFullDiskStopsTheBuildOnce) {
  for (const char* name : {"big1", "big2", "sub/big3"})  // beyond a worker's memory: spilled
    ASSERT_TRUE(WriteWholeFile(source_ + name, PatternBytes(3000000, name[3])));
  std::string disk = work_.Join("disk");
  ASSERT_TRUE(MakeFolder(disk));
  const struct {
    const char* label;
    std::string output, temp;
    int32_t workers, failure;
  } rows[] = {
      {"temporary archive", work_.Join("out.exe"), disk + "/", 1, kBuildArchiveUnreadable},
      {"spill files", work_.Join("out.exe"), disk + "/", 2, kBuildArchiveUnreadable},
      {"part file", disk + "/out.exe", work_.Path(), 2, kBuildOutputFailed},
  };
  for (const auto& row : rows) {
    std::string words = OnSmallDisk(disk, 2 * 1024 * 1024, [&]() {
      BuildResult result = Build(row.output, row.temp.c_str(), row.workers, 1);
      std::string found;
      if (result.failure != row.failure) found += "failure " + std::to_string(result.failure);
      if (!IsDiskFull(result.reason)) found += "; reason " + std::to_string(result.reason);
      if (result.where.IsEmpty()) found += "; no path";
      if (row.failure == kBuildArchiveUnreadable && ArchiverProblemCount() != 1)
        found += "; " + std::to_string(ArchiverProblemCount()) + " problems";
      if (!std::filesystem::is_empty(disk)) found += "; something left on the disk";
      if (Exists(row.output)) found += "; an output";
      return found;
    });
    if (words.rfind("skip:", 0) == 0) GTEST_SKIP() << words;
    EXPECT_EQ("", words) << row.label;
  }
}
#endif

// The part file's name is drawn anew every time, short and random. A part file a killed run
// left behind is removed; names that the draw meets taken otherwise (a folder, a link, a file
// with a second name, a part file another run is writing) are passed over and stay as they were.
// Nothing is written through a link, and an output name of 255 bytes works. A link as the output
// is replaced by the file, its target left alone.
TEST_F(PackTest, PartFilesLeftOrPlantedBlockNothing) {
  std::string victim = work_.Join("victim");
  ASSERT_TRUE(WriteWholeFile(victim, kOld));
  std::string out = work_.Join("out") + Separator();
  ASSERT_TRUE(MakeFolder(out));
  // The names the first draws will give, from a known seed.
  const uint32_t kSeed = 1234;
  const char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  SeedRandom(kSeed);
  std::vector<std::string> planted;
  for (int k = 0; k < 4; ++k) {
    std::string name = kPartNamePrefix;
    for (int i = 0; i < kPartNameRandomChars; ++i) name += kLetters[RandomUpTo(35)];
    planted.push_back(name);
  }
  ASSERT_TRUE(MakeFolder(out + planted[0]));
  std::string left = std::string(kPartNamePrefix) + "deadbeef";  // a killed run's
  ASSERT_TRUE(WriteWholeFile(out + left, kOld));
  ASSERT_TRUE(WriteWholeFile(out + ".~vzNotOurs", kOld));
  planted.push_back(".~vzNotOurs");
#ifdef _WIN32
  for (int k = 1; k < 4; ++k) ASSERT_TRUE(WriteWholeFile(out + planted[k], kOld));
  planted.push_back(left);  // left to the user here
#else
  ASSERT_EQ(0, symlink(victim.c_str(), (out + planted[1]).c_str()));
  ASSERT_TRUE(WriteWholeFile(out + planted[2], kOld));
  ASSERT_EQ(0, link((out + planted[2]).c_str(), work_.Join("second name").c_str()));
  ASSERT_TRUE(WriteWholeFile(out + planted[3], kOld));  // another run is writing it
  intptr_t writing = OpenFileForReading(kAnyNumber, (out + planted[3]).c_str());
  ASSERT_EQ(1, MarkFileInUse(writing));
  ASSERT_EQ(0, symlink(victim.c_str(), (out + "link.exe").c_str()));
#endif
  std::sort(planted.begin(), planted.end());
  SeedRandom(kSeed);
  std::string longName(kPathSeparator == '/' ? 255 - 4 : 120, 'n');
  for (const std::string& name : {std::string("plain.exe"), longName + ".exe"
#ifndef _WIN32
                                  ,
                                  std::string("link.exe")
#endif
       }) {
    SCOPED_TRACE(name.substr(0, 20));
    BuildResult result = Build(out + name, work_.Join("Vezovud3").c_str());
    EXPECT_EQ(kBuildWritten, result.failure) << BuildFailureText(result).c_str();
    EXPECT_EQ(result.outputBytes, (int64_t)ReadWholeFile(out + name).size());
    EXPECT_FALSE(std::filesystem::is_symlink(out + name)) << "a file in the link's place";
  }
#ifndef _WIN32
  CloseFileNumber(writing);
#endif
  std::vector<std::string> parts;
  for (const auto& e : std::filesystem::directory_iterator(out)) {
    std::string name = e.path().filename().string();
    if (name.rfind(kPartNamePrefix, 0) == 0) parts.push_back(name);
  }
  std::sort(parts.begin(), parts.end());
  EXPECT_EQ(planted, parts) << "the planted names stay, the one left behind goes, no new one";
  for (const std::string& name : planted) {
    if (std::filesystem::is_regular_file(out + name)) {
      EXPECT_TRUE(ReadWholeFile(out + name) == kOld) << name;
    }
  }
  EXPECT_TRUE(ReadWholeFile(victim) == kOld) << "nothing written through a link";
}

}  // namespace
