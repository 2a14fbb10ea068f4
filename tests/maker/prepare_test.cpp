// CountFiles and MakeTempArchiveName, and the build steps that write the
// output file: its layout, and what a failed job leaves behind.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "archive/folder_archiver.h"
#include "maker/build_steps.h"
#include "maker/prepare.h"
#include "runtime/file.h"
#include "runtime/system.h"
#include "runtime/test_support.h"
#include "support/foreign_readers.h"
#include "support/zip_parser.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using test_support::Separator;
using test_support::TempFolder;
using test_support::WriteWholeFile;

namespace {

const unsigned char kStub[] = {'M', 'Z', 0x90, 0, 3, 0, 0, 0};

class PrepareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    InitFolderArchiver();
    ASSERT_TRUE(work_.Ok());
    source_ = work_.Join("src") + Separator();
    ASSERT_TRUE(test_support::MakeFolder(source_ + "d1" + Separator() + "d2"));
    ASSERT_TRUE(test_support::MakeFolder(source_ + "only" + Separator() + "folders"));
    ASSERT_TRUE(WriteWholeFile(source_ + "a", test_support::PatternBytes(10)));
    ASSERT_TRUE(WriteWholeFile(source_ + ".hidden", test_support::PatternBytes(10)));
    ASSERT_TRUE(WriteWholeFile(source_ + "d1" + Separator() + "d2" + Separator() + "deep.txt",
                               test_support::PatternBytes(300000)));
  }
  void TearDown() override { FreeFolderArchiver(); }

  BuildRequest Request(const std::string& output) {
    BuildRequest r;
    r.sourceFolder = source_.c_str();
    r.outputFile = output.c_str();
    r.tempArchive = work_.Join("Vezovud7").c_str();
    r.stubImage = kStub;
    r.stubBytes = sizeof(kStub);
    r.chunkPauseMs = 0;
    return r;
  }

  TempFolder work_;
  std::string source_;
};

TEST_F(PrepareTest, CountFilesWithAndWithoutSeparator) {
  EXPECT_EQ(3, CountFiles(source_.c_str()));
  EXPECT_EQ(3, CountFiles(source_.substr(0, source_.size() - 1).c_str()));
  EXPECT_EQ(0, CountFiles((source_ + "only").c_str())) << "folders only";
  EXPECT_EQ(0, CountFiles(work_.Join("missing").c_str()));
}

#ifndef _WIN32
TEST_F(PrepareTest, CountFilesSkipsLinkLoopsLikeTheArchiver) {
  ASSERT_EQ(0, symlink("../..", (source_ + "d1/d2/loop").c_str()));
  EXPECT_EQ(3, CountFiles(source_.c_str()));
  EXPECT_EQ(3, AddFolderToArchive(work_.Join("x.zip").c_str(), (source_ + "*.*").c_str(), 2, 1, 0));
}

TEST_F(PrepareTest, TempNamesAvoidTakenNamesAndEndWhenAllAreTaken) {
  std::string tmp = work_.Join("tmp") + Separator();
  ASSERT_TRUE(test_support::MakeFolder(tmp));
  const char* old = getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", tmp.c_str(), 1);
  ASSERT_TRUE(WriteWholeFile(tmp + "Vezovud7", {1}));
  ASSERT_TRUE(test_support::MakeFolder(tmp + "Vezovud8"));
  for (int i = 0; i < 300; ++i) {
    std::string name = MakeTempArchiveName("Vezovud").c_str();
    ASSERT_EQ(0u, name.find(tmp + "Vezovud"));
    std::string number = name.substr(tmp.size() + 7);
    ASSERT_TRUE(number.size() == 1 || (number.size() == 2 && number[0] != '0')) << name;
    EXPECT_NE("7", number);
    EXPECT_NE("8", number);
  }
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(test_support::MakeFolder(tmp + "Vezovud" + std::to_string(i)) || i == 7 || i == 8);
  EXPECT_EQ("", std::string(MakeTempArchiveName("Vezovud").c_str())) << "no endless loop";
  BuildRequest r = Request(work_.Join("out.exe"));
  r.tempArchive = MakeTempArchiveName("Vezovud");
  BuildResult result = RunBuildSteps(r);
  EXPECT_EQ(kBuildNoTempName, result.failure);
  EXPECT_FALSE(test_support::Exists(work_.Join("out.exe")));
  if (old) setenv("TMPDIR", saved.c_str(), 1);
  else unsetenv("TMPDIR");
}
#endif

TEST_F(PrepareTest, OutputIsStubPayloadTrailer) {
  std::string out = work_.Join("out.exe");
  BuildResult result = RunBuildSteps(Request(out));
  ASSERT_EQ(kBuildWritten, result.failure) << BuildFailureText(result).c_str();
  EXPECT_EQ(3, result.fileCount);
  EXPECT_EQ(3, result.addedCount);
  EXPECT_FALSE(test_support::Exists(work_.Join("Vezovud7"))) << "temporary archive deleted";
  std::vector<unsigned char> bytes = test_support::ReadWholeFile(out);
  ASSERT_EQ(static_cast<int64_t>(bytes.size()), result.outputBytes);
  EXPECT_EQ(sizeof(kStub) + result.archiveBytes + 4, bytes.size());
  EXPECT_EQ(0, memcmp(bytes.data(), kStub, sizeof(kStub)));
  EXPECT_EQ(static_cast<uint32_t>(result.archiveBytes), zip_parser::Read32(bytes, bytes.size() - 4));
  zip_parser::Archive zip = zip_parser::Parse(bytes, bytes.size() - 4);
  ASSERT_EQ("", zip.error);
  EXPECT_EQ(sizeof(kStub), zip.displacement);
  EXPECT_EQ(bytes.size() - 26, zip.end.offset) << "end record 26 bytes before the end";
#ifndef _WIN32
  EXPECT_EQ("", foreign_readers::CheckAll(out));
#endif
  // Packed again: the same bytes.
  std::string again = work_.Join("again.exe");
  ASSERT_EQ(kBuildWritten, RunBuildSteps(Request(again)).failure);
  EXPECT_TRUE(test_support::ReadWholeFile(again) == bytes);
}

TEST_F(PrepareTest, ExistingOutputIsReplacedWhenTheJobSucceeds) {
  std::string out = work_.Join("out.exe");
  ASSERT_TRUE(WriteWholeFile(out, {'o', 'l', 'd'}));
  ASSERT_EQ(kBuildWritten, RunBuildSteps(Request(out)).failure);
  EXPECT_GT(test_support::ReadWholeFile(out).size(), 100u);
}

TEST_F(PrepareTest, OutputThatCannotBeCreatedIsReportedAndTempDeleted) {
  std::string out = work_.Join("no") + Separator() + "such" + Separator() + "out.exe";
  BuildResult result = RunBuildSteps(Request(out));
  EXPECT_EQ(kBuildOutputFailed, result.failure);
  EXPECT_NE("", std::string(BuildFailureText(result).c_str()));
  EXPECT_FALSE(test_support::Exists(work_.Join("Vezovud7")));
}

TEST_F(PrepareTest, OutputInsideTheSourceIsPackedAsItStood) {
  std::string out = source_ + "self.exe";
  ASSERT_TRUE(WriteWholeFile(out, {'o', 'l', 'd'}));
  BuildResult result = RunBuildSteps(Request(out));
  ASSERT_EQ(kBuildWritten, result.failure);
  EXPECT_EQ(4, result.addedCount);
}

#ifndef _WIN32
TEST_F(PrepareTest, LeftOutFileKeepsTheOldOutputAndNamesTheReason) {
  std::string out = work_.Join("out.exe");
  ASSERT_TRUE(WriteWholeFile(out, {'o', 'l', 'd'}));
  ASSERT_TRUE(WriteWholeFile(source_ + "bad|name", {1, 2}));
  BuildResult result = RunBuildSteps(Request(out));
  EXPECT_EQ(kBuildFilesLeftOut, result.failure);
  EXPECT_EQ(4, result.fileCount);
  EXPECT_EQ(3, result.addedCount);
  EXPECT_EQ("No archive was written: 1 files could not be read or stored.",
            std::string(BuildFailureText(result).c_str()));
  ASSERT_EQ(1, ArchiverProblemCount());
  EXPECT_EQ(kProblemBadName, ArchiverProblemKind(0));
  EXPECT_TRUE(test_support::ReadWholeFile(out) == std::vector<unsigned char>({'o', 'l', 'd'}));
  EXPECT_FALSE(test_support::Exists(out + kPartialOutputSuffix));
  EXPECT_FALSE(test_support::Exists(work_.Join("Vezovud7")));
}
#endif

}  // namespace
