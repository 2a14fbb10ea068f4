// The Maker's window through the headless layer: the output name, dialogs, gadget states during
// and after jobs, the boxes (the build steps themselves: tests/pack).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/folder_archiver.h"
#include "maker/build_job.h"
#include "maker/maker_window.h"
#include "pack/build_steps.h"
#include "runtime/system.h"
#include "runtime/test_support.h"
#include "runtime/thread.h"
#include "runtime/window_headless.h"
#include "support/handshake.h"
#ifndef _WIN32
#include <unistd.h>
#endif

using namespace test_support;

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

// Records the states at the job's box, then presses About and keeps the box up until the About
// box has come: the window must still answer.
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
    ASSERT_TRUE(MakeFolder(source_ + "sub"));
    for (const char* name : {"a.txt", ".hidden", "sub/b.txt"})
      ASSERT_TRUE(WriteWholeFile(source_ + name, PatternBytes(300000)));  // three chunks
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

  void Press(int32_t gadget) {
    ASSERT_EQ(1, HeadlessClick(gadget));
    HandleMakerEvent(WaitForEvent());
  }
  // Types folder, answers the save dialog with output, presses Squeeze! and serves the events.
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
  // The Maker follows a link out of the folder, as it always has...
  std::string outside = work_.Join("outside") + Separator();
  ASSERT_TRUE(MakeFolder(outside));
  ASSERT_TRUE(WriteWholeFile(outside + "x.txt", PatternBytes(10)));
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
  for (const auto& e : std::filesystem::directory_iterator(work_.Path()))
    EXPECT_NE(0u, e.path().filename().string().rfind(kPartNamePrefix, 0)) << "no part file left";
  EXPECT_FALSE(Exists(gTemp));
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
  EXPECT_STREQ("The archive was created sucessfully. 4 files were added.", box.first.c_str());
  EXPECT_EQ(64, box.number);
  // File times are read through the "\" the window appends: this year's.
  ASSERT_NE(0, OpenArchiveForReading((target + ".exe").c_str()));
  do {
    ArchiveEntryInfo entry;
    ASSERT_EQ(0, GetCurrentEntryInfo(&entry));
    EXPECT_TRUE(entry.isFolder || entry.time.year >= 2024) << entry.name.c_str() << entry.time.year;
  } while (GoToNextEntry() == 0);
  CloseArchive();
}

}  // namespace
