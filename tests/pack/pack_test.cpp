// The steps that make an output file from a folder, as the Maker and `vezovud pack` run them:
// the output's layout whatever the workers, the temporary name, the outputs refused.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/folder_archiver.h"
#include "pack/build_steps.h"
#include "pack/prepare.h"
#include "runtime/system.h"
#include "runtime/test_support.h"
#include "support/zip_writer.h"
#ifndef _WIN32
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

  BuildResult Build(const std::string& output, const Text& temp, int32_t workers = 1) {
    return RunBuildSteps({source_.c_str(), output.c_str(), temp, kFakeStub, sizeof(kFakeStub), 0,
                          kLinksWithinFolder, workers});
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
  int privateFolders = 0;
  for (const auto& e : std::filesystem::directory_iterator(tmp))
    privateFolders += e.path().filename().string().rfind("vezovud-", 0) == 0;
  EXPECT_EQ(0, privateFolders) << "the private folder is removed";
  ASSERT_TRUE(MakeFolder(tmp + "Vezovud42"));
  Text none = MakeTempArchiveName("Vezovud");
  EXPECT_STREQ("", none.c_str()) << "every name taken: no endless loop";
  EXPECT_EQ(kBuildNoTempName, Build(work_.Join("out.exe"), none).failure);
  EXPECT_FALSE(Exists(work_.Join("out.exe")));
  saved.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved.c_str(), 1);
}
#endif

// Refused outputs: an existing file stays as it was, nothing is followed, nothing left behind.
TEST_F(PackTest, RefusedOutputsLeaveEverythingAsItWas) {
  std::string victim = work_.Join("victim");
  ASSERT_TRUE(WriteWholeFile(victim, kOld));
  const struct {
    const char* label;
    std::string output;
    int32_t failure;
    std::string temp = "";  // the temporary archive's name; empty: Vezovud7 in the work folder
  } rows[] = {
      {"folder missing", work_.Join("no") + Separator() + "out.exe", kBuildOutputFailed},
      {"part name taken", work_.Join("taken.exe"), kBuildPartNameTaken},
      {"inside the source", source_ + "out.exe", kBuildOutputInSource},
      {"inside, deeper", source_ + "sub" + Separator() + "out.exe", kBuildOutputInSource},
      // Its private folder would be packed along, and the source written to.
      {"temporary inside the source", work_.Join("out.exe"), kBuildTempInSource,
       source_ + "Vezovud7"},
#ifndef _WIN32
      {"inside through a link", work_.Join("alias") + Separator() + "out.exe",
       kBuildOutputInSource},
#endif
  };
  std::string part = work_.Join("taken.exe") + kPartialOutputSuffix;
#ifdef _WIN32
  ASSERT_TRUE(WriteWholeFile(part, kOld));
#else
  // A link planted under the part name must not carry the output elsewhere.
  ASSERT_EQ(0, symlink(victim.c_str(), part.c_str()));
  ASSERT_EQ(0, symlink(source_.c_str(), work_.Join("alias").c_str()));
#endif
  std::vector<std::string> before = WorkNames();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    BuildResult result =
        Build(row.output, (row.temp.empty() ? work_.Join("Vezovud7") : row.temp).c_str());
    EXPECT_EQ(row.failure, result.failure);
    EXPECT_STRNE("", BuildFailureText(result).c_str());
    EXPECT_FALSE(Exists(row.output));
    EXPECT_EQ(before, WorkNames());
    EXPECT_EQ(4, std::distance(std::filesystem::recursive_directory_iterator(source_), {}));
  }
  EXPECT_TRUE(ReadWholeFile(victim) == kOld);
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::is_symlink(part)) << "the planted link stays a link";
#endif
}

}  // namespace
