// The Maker: temporary names and failed build steps, then its window through
// the headless layer: dialogs, gadget states during and after jobs, the boxes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/folder_archiver.h"
#include "maker/build_job.h"
#include "maker/maker_window.h"
#include "pack/build_steps.h"
#include "pack/prepare.h"
#include "runtime/system.h"
#include "runtime/test_support.h"
#include "runtime/thread.h"
#include "runtime/window_headless.h"
#include "support/foreign_readers.h"
#include "support/handshake.h"
#include "support/zip_parser.h"
#include "support/zip_writer.h"
#ifndef _WIN32
#include <unistd.h>
#endif

using namespace test_support;
typedef std::vector<unsigned char> Bytes;

namespace {

const unsigned char kFakeStub[] = {'M', 'Z', 1, 2, 3, 4, 5, 6, 7, 8};
const std::vector<unsigned char> kOld = {'o', 'l', 'd'};
const char kIdle[] = "Exit=1 Squeeze!=1 Browse=1 About=1 bar=0 status='Ready...' job=0";

// The buttons' texts and enabled flags, the bar, the status line, gJobRunning.
std::string GadgetStates() {
  std::string s;
  for (int32_t g : {kGadgetExit, kGadgetSqueeze, kGadgetBrowse, kGadgetAbout}) {
    HeadlessGadget state = HeadlessGadgetState(g);
    s += state.text.c_str() + ("=" + std::to_string(state.enabled)) + " ";
  }
  return s + "bar=" + std::to_string(HeadlessGadgetState(kGadgetProgress).value) + " status='" +
         HeadlessGadgetState(kGadgetStatus).text.c_str() + "' job=" + std::to_string(gJobRunning);
}

HeadlessRequest Message(const std::string& title) {  // the first box with that caption
  for (int i = 0; i < HeadlessMessageCount(); ++i)
    if (title == HeadlessMessageAt(i).title.c_str()) return HeadlessMessageAt(i);
  return HeadlessRequest();
}

std::string gAtBox, gTemp;   // GadgetStates() and gTempArchive when the job's box came up
handshake::Counter gAbouts;  // About boxes shown

// Records the states at the job's box, then presses About while that box is
// up and keeps it up until the About box has come: the window must still
// answer.
int32_t AtBox(const Text& title, const Text&, int32_t) {
  if (std::string(title.c_str()) == "About Vezovud") {
    gAbouts.Raise();
    return kMessageButtonOk;
  }
  gAtBox = GadgetStates();
  gTemp = gTempArchive.c_str();
  int seen = gAbouts.Count();
  HeadlessClick(kGadgetAbout);
  gAbouts.WaitAbove(seen);
  return kMessageButtonOk;
}

class MakerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    HeadlessReset();
    InitWindows();
    InitFolderArchiver();
    SetStubImage(kFakeStub, sizeof(kFakeStub));
    std::string deeper = source_ + "sub" + Separator() + "deeper" + Separator();
    ASSERT_TRUE(MakeFolder(deeper) && MakeFolder(source_ + "only" + Separator() + "folders"));
    ASSERT_TRUE(WriteWholeFile(source_ + "a.txt", PatternBytes(1000)) &&
                WriteWholeFile(source_ + ".hidden", PatternBytes(10)) &&
                WriteWholeFile(deeper + "b.txt", PatternBytes(300000, 2)));  // three chunks
    OpenMakerWindow(nullptr, 0);
    HeadlessSetWaitTimeout(50);
    HeadlessSetMessageHandler(AtBox);
    gAbouts.Reset();
  }
  void TearDown() override {
    HeadlessSetMessageHandler(nullptr);
    FreeFolderArchiver();
    EndWindows();
  }

  BuildResult Build(const std::string& output, const Text& temp) {
    return RunBuildSteps({source_.c_str(), output.c_str(), temp, kFakeStub, sizeof(kFakeStub), 0,
                          kLinksWithinFolder, 1});
  }
  // The names in the work folder: the job leaves no temporary file or folder.
  std::vector<std::string> WorkNames() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(work_.Path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void Press(int32_t gadget) {
    ASSERT_EQ(1, HeadlessClick(gadget));
    HandleMakerEvent(WaitForEvent());
  }
  // Types folder, answers the save dialog with output, presses Squeeze! and
  // serves events as the main loop would until the job has ended.
  void Squeeze(const std::string& folder, const std::string& output) {
    HeadlessType(kGadgetFolderField, folder.c_str());
    WaitForEvent();
    HeadlessAnswerSaveFile(output.c_str());
    Press(kGadgetSqueeze);
    for (int i = 0; i < 2000 && (gJobRunning || !WaitForThread(gJobThread, 0)); ++i)
      HandleMakerEvent(WaitForEvent());
    EXPECT_EQ(kIdle, GadgetStates()) << "back to Idle";
  }

  TempFolder work_;
  std::string source_ = work_.Join("src") + Separator();
};

TEST(CompleteOutputNameTest, AppendsExeByteForByte) {
  const char* rows[][2] = {{"result", "result.exe"},
                           {"result.exe", "result.exe"},
                           {"Setup.EXE", "Setup.EXE.exe"},
                           {"exe", "exe.exe"},
                           {".exe", ".exe"}};
  for (auto& row : rows) EXPECT_STREQ(row[1], CompleteOutputName(row[0]).c_str()) << row[0];
}

#ifndef _WIN32
TEST_F(MakerTest, TempNameIsTheOneFreeNameThenNoneAndTheJobSaysSo) {
  std::string tmp = work_.Join("tmp") + Separator();
  std::string saved = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  ASSERT_TRUE(MakeFolder(tmp));
  setenv("TMPDIR", tmp.c_str(), 1);
  for (int i = 0; i < kTempNameCount; ++i) {  // files and folders take names; 42 stays free
    std::string name = tmp + "Vezovud" + std::to_string(i);
    ASSERT_TRUE(i == 42 || (i % 2 ? MakeFolder(name) : WriteWholeFile(name, {1})));
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ(tmp + "Vezovud42", MakeTempArchiveName("Vezovud").c_str());
  // Another user plants an archive under the drawn name before the job runs:
  // the job's own archive lives in a private folder, and the planted one
  // is neither added to nor touched.
  std::string planted = testzip::BuildArchive({{"evil.txt", "planted"}});
  ASSERT_TRUE(WriteWholeFile(tmp + "Vezovud42", Bytes(planted.begin(), planted.end())));
  EXPECT_EQ(kBuildWritten, Build(work_.Join("mine.exe"), (tmp + "Vezovud42").c_str()).failure);
  std::vector<unsigned char> out = ReadWholeFile(work_.Join("mine.exe"));
  zip_parser::Archive zip = zip_parser::Parse(out, out.size() - 4);
  ASSERT_EQ("", zip.error);
  for (const auto& h : zip.central) EXPECT_NE("evil.txt", h.name);
  EXPECT_EQ(8u, zip.central.size()) << "the source's 5 folders and 3 files only";
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

// Outputs that are refused or cannot be made: an existing file stays as it
// was, nothing is followed or truncated, and no temporary file or folder
// is left behind.
TEST_F(MakerTest, RefusedOutputsLeaveEverythingAsItWas) {
  std::string victim = work_.Join("victim");
  ASSERT_TRUE(WriteWholeFile(victim, kOld));
  const struct {
    const char* label;
    std::string output;
    int32_t failure;
  } rows[] = {
      {"folder missing", work_.Join("no") + Separator() + "out.exe", kBuildOutputFailed},
      {"part name taken", work_.Join("taken.exe"), kBuildPartNameTaken},
      {"inside the source", source_ + "out.exe", kBuildOutputInSource},
      {"inside, deeper", source_ + "sub" + Separator() + "out.exe", kBuildOutputInSource},
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
    BuildResult result = Build(row.output, work_.Join("Vezovud7").c_str());
    EXPECT_EQ(row.failure, result.failure) << row.label;
    EXPECT_STRNE("", BuildFailureText(result).c_str()) << row.label;
    EXPECT_FALSE(Exists(row.output)) << row.label;
    EXPECT_EQ(before, WorkNames()) << row.label;
  }
  EXPECT_TRUE(ReadWholeFile(victim) == kOld);
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::is_symlink(part)) << "the planted link stays a link";
#endif
}

TEST_F(MakerTest, DialogsBrowseCloseAndExit) {
  Press(kGadgetSqueeze);
  EXPECT_EQ(0, HeadlessRequestCount()) << "empty folder field: no save dialog";
  HeadlessAnswerFolder("C:\\data");
  Press(kGadgetBrowse);
  Press(kGadgetBrowse);   // no answer left: cancelled
  Press(kGadgetSqueeze);  // the save dialog is cancelled too
  EXPECT_STREQ("C:\\data\\", ReadGadgetText(kGadgetFolderField).c_str());
  ASSERT_EQ(3, HeadlessRequestCount());
  EXPECT_STREQ("Choose a path please", HeadlessRequestAt(1).title.c_str());
  HeadlessRequest save = HeadlessRequestAt(2);
  EXPECT_STREQ("Please choose file to save", save.title.c_str());
  EXPECT_STREQ("Executable files (*.exe)|*.exe", save.first.c_str());
  EXPECT_EQ(kIdle, GadgetStates()) << "no job started";
  HeadlessPostWindowEvent(0, kEventCloseWindow);
  EXPECT_EQ(0, HandleMakerEvent(WaitForEvent())) << "a close request is ignored";
  ASSERT_EQ(1, HeadlessClick(kGadgetExit));
  EXPECT_EQ(1, HandleMakerEvent(WaitForEvent())) << "Exit ends the program";
}

TEST_F(MakerTest, FailedJobKeepsTheOldOutputTheNextReplacesIt) {
  std::string target = work_.Join("result");
  ASSERT_TRUE(WriteWholeFile(target + ".exe", kOld));
#ifndef _WIN32
  // A link that loops is followed by neither CountFiles nor the walk: the counts agree.
  ASSERT_EQ(0, symlink("../..", (source_ + "sub/deeper/loop").c_str()));
  // The Maker follows a link out of the folder, as it always has...
  std::string outside = work_.Join("outside") + Separator();
  ASSERT_TRUE(MakeFolder(outside) && WriteWholeFile(outside + "x.txt", PatternBytes(10)));
  ASSERT_EQ(0, symlink(outside.c_str(), (source_ + "out").c_str()));
  // ...but not a link to nothing, which leaves no output.
  std::string gone = source_ + "gone.txt";
  ASSERT_EQ(0, symlink(work_.Join("nothing").c_str(), gone.c_str()));
  Squeeze(source_, target);
  HeadlessRequest failed = Message("Not written");
  EXPECT_STREQ("No archive was written: 1 files or folders could not be read or stored.",
               failed.first.c_str());
  EXPECT_EQ(48, failed.number);
  EXPECT_TRUE(ReadWholeFile(target + ".exe") == kOld) << "the old output is untouched";
  EXPECT_FALSE(Exists(target + ".exe" + kPartialOutputSuffix) || Exists(gTemp));
  ASSERT_EQ(0, remove(gone.c_str()));
  gAbouts.Reset();
#else
  ASSERT_TRUE(WriteWholeFile(source_ + "x.txt", PatternBytes(10)));  // the fourth file
#endif
  Squeeze(source_.substr(0, source_.size() - 1), target);  // typed without its separator
  EXPECT_EQ("Exit=0 Squeeze!=0 Browse=0 About=1 bar=100 status='' job=1", gAtBox);
  EXPECT_FALSE(Exists(gTemp)) << "the temporary archive is deleted";
  HeadlessRequest about = Message("About Vezovud"), box = Message("Ready");
  EXPECT_EQ(1, gAbouts.Count()) << "About answers during a job";
  EXPECT_EQ(64, about.number);
  EXPECT_EQ(0, std::string(about.first.c_str())
                   .find("Vezovud v1.1\n\r\n\rDescription: Vezovud is "
                         "a small tool to make\n\rSelf-Extracting ZIP "
                         "archives.\n\r"));
  EXPECT_STREQ("The archive was created sucessfully. 4 files were added.", box.first.c_str());
  EXPECT_EQ(64, box.number);
  // Stub, archive, and a trailer holding the archive's length A.
  std::vector<unsigned char> out = ReadWholeFile(target + ".exe");
  ASSERT_GT(out.size(), sizeof(kFakeStub) + 4);
  EXPECT_EQ(0, memcmp(out.data(), kFakeStub, sizeof(kFakeStub)));
  EXPECT_EQ(out.size() - sizeof(kFakeStub) - 4, zip_parser::Read32(out, out.size() - 4));
  zip_parser::Archive zip = zip_parser::Parse(out, out.size() - 4);
  EXPECT_EQ("", zip.error);
  EXPECT_EQ(sizeof(kFakeStub), zip.displacement);
  EXPECT_EQ(out.size() - 26, zip.end.offset) << "the trailer follows the end record";
  for (const auto& h : zip.central) {  // file times are read through the "\" the window appends
    if (!h.name.empty() && h.name.back() != '\\') {
      EXPECT_NE(0xC421, h.date) << h.name;
    }
  }
#ifndef _WIN32
  EXPECT_EQ("", foreign_readers::CheckAll(target + ".exe"));
#endif
}

}  // namespace
