// The Maker through the headless window layer: the window's gadgets, Browse
// and Squeeze! with their dialogs, the gadget states during and after a job,
// About during a job, and the boxes that end a job.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "archive/folder_archiver.h"
#include "archive/output_layout.h"
#include "maker/build_job.h"
#include "maker/maker_window.h"
#include "runtime/system.h"
#include "runtime/test_support.h"
#include "runtime/thread.h"
#include "runtime/window.h"
#include "runtime/window_headless.h"
#include "support/foreign_readers.h"
#include "support/zip_parser.h"

using test_support::TempFolder;
using test_support::WriteWholeFile;

namespace {

const unsigned char kFakeStub[] = {'M', 'Z', 1, 2, 3, 4, 5, 6, 7, 8};

struct SeenDuringReport {
  std::atomic<int> reports{0};
  int exitEnabled = -1, squeezeEnabled = -1, browseEnabled = -1, aboutEnabled = -1;
  int progress = -1;
  std::string status;
  int jobRunning = -1;
  std::atomic<int> aboutShown{0};
};
SeenDuringReport* gSeen = nullptr;

int32_t RecordStateAtReport(const Text& title, const Text& text, int32_t flags) {
  (void)text;
  (void)flags;
  if (std::string(title.c_str()) == "About Vezovud") {
    gSeen->aboutShown++;
    return kMessageButtonOk;
  }
  gSeen->exitEnabled = HeadlessGadgetState(kGadgetExit).enabled;
  gSeen->squeezeEnabled = HeadlessGadgetState(kGadgetSqueeze).enabled;
  gSeen->browseEnabled = HeadlessGadgetState(kGadgetBrowse).enabled;
  gSeen->aboutEnabled = HeadlessGadgetState(kGadgetAbout).enabled;
  gSeen->progress = HeadlessGadgetState(kGadgetProgress).value;
  gSeen->status = HeadlessGadgetState(kGadgetStatus).text.c_str();
  gSeen->jobRunning = JobRunning;
  // The user presses About while the job's box is up; the window answers.
  HeadlessClick(kGadgetAbout);
  for (int i = 0; i < 500 && gSeen->aboutShown == 0; ++i) PauseMilliseconds(10);
  gSeen->reports++;
  return kMessageButtonOk;
}

class MakerFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    HeadlessReset();
    InitWindows();
    InitFolderArchiver();
    SetStubImage(kFakeStub, sizeof(kFakeStub));
    ASSERT_TRUE(work_.Ok());
    source_ = work_.Join("data");
    ASSERT_TRUE(test_support::MakeFolder(source_ + "/sub"));
    ASSERT_TRUE(WriteWholeFile(source_ + "/a.txt", test_support::PatternBytes(1000)));
    ASSERT_TRUE(WriteWholeFile(source_ + "/sub/b.txt", test_support::PatternBytes(200000, 2)));
    ASSERT_EQ(1, OpenMakerWindow(nullptr, 0) || 1);
    HeadlessSetWaitTimeout(50);
    gSeen = &seen_;
    HeadlessSetMessageHandler(RecordStateAtReport);
  }
  void TearDown() override {
    HeadlessSetMessageHandler(nullptr);
    gSeen = nullptr;
    FreeFolderArchiver();
    EndWindows();
  }

  // Serves events as the main loop would until the job has ended.
  void ServeUntilJobEnds() {
    for (int i = 0; i < 2000; ++i) {
      HandleMakerEvent(WaitForEvent());
      if (JobRunning == 0 && WaitForThread(JobThread, 0)) break;
    }
    ASSERT_EQ(0, JobRunning);
  }

  void Press(int32_t gadget) {
    ASSERT_EQ(1, HeadlessClick(gadget));
    HandleMakerEvent(WaitForEvent());
  }

  void ExpectIdle() {
    EXPECT_EQ(0, JobRunning);
    EXPECT_EQ(1, HeadlessGadgetState(kGadgetExit).enabled);
    EXPECT_EQ(1, HeadlessGadgetState(kGadgetSqueeze).enabled);
    EXPECT_EQ(1, HeadlessGadgetState(kGadgetBrowse).enabled);
    EXPECT_EQ(0, HeadlessGadgetState(kGadgetProgress).value);
    EXPECT_EQ("Ready...", std::string(HeadlessGadgetState(kGadgetStatus).text.c_str()));
  }

  TempFolder work_;
  std::string source_;
  SeenDuringReport seen_;
};

TEST(CompleteOutputNameTest, Cases) {
  EXPECT_EQ("result.exe", std::string(CompleteOutputName("result").c_str()));
  EXPECT_EQ("result.exe", std::string(CompleteOutputName("result.exe").c_str()));
  EXPECT_EQ("Setup.EXE.exe", std::string(CompleteOutputName("Setup.EXE").c_str()));
  EXPECT_EQ("a.exe", std::string(CompleteOutputName("a").c_str()));
  EXPECT_EQ("exe.exe", std::string(CompleteOutputName("exe").c_str()));
  EXPECT_EQ(".exe", std::string(CompleteOutputName(".exe").c_str()));
}

TEST_F(MakerFlowTest, WindowHasItsNineGadgets) {
  HeadlessWindow w = HeadlessWindowState(0);
  EXPECT_EQ(1, w.exists);
  EXPECT_EQ("Vezovud v1.0", std::string(w.title.c_str()));
  EXPECT_EQ(405, w.x);
  EXPECT_EQ(334, w.y);
  EXPECT_EQ(253, w.innerWidth);
  EXPECT_EQ(161, w.innerHeight);
  const char* texts[] = {"", nullptr, "Choose your folder:", "Browse", nullptr, "Ready...", "Exit",
                         "Squeeze!", "About"};
  for (int g = 0; g <= 8; ++g) {
    HeadlessGadget s = HeadlessGadgetState(g);
    EXPECT_EQ(1, s.exists) << g;
    if (texts[g]) {
      EXPECT_EQ(texts[g], std::string(s.text.c_str())) << g;
    }
  }
  EXPECT_EQ(100, HeadlessGadgetState(kGadgetProgress).maximum);
}

TEST_F(MakerFlowTest, BrowseAppendsBackslashAndCancelKeepsTheField) {
  HeadlessAnswerFolder("C:\\data");
  Press(kGadgetBrowse);
  EXPECT_EQ("C:\\data\\", std::string(ReadGadgetText(kGadgetFolderField).c_str()));
  Press(kGadgetBrowse);  // no answer left: cancelled
  EXPECT_EQ("C:\\data\\", std::string(ReadGadgetText(kGadgetFolderField).c_str()));
  HeadlessRequest r = HeadlessRequestAt(0);
  EXPECT_EQ(kRequesterFolder, r.kind);
  EXPECT_EQ("Choose a path please", std::string(r.title.c_str()));
}

TEST_F(MakerFlowTest, EmptyFolderOrCancelledSaveStartsNoJob) {
  Press(kGadgetSqueeze);
  EXPECT_EQ(0, HeadlessRequestCount()) << "empty folder field: no save dialog";
  HeadlessType(kGadgetFolderField, source_.c_str());
  WaitForEvent();
  Press(kGadgetSqueeze);  // save dialog cancelled
  EXPECT_EQ(1, HeadlessRequestCount());
  HeadlessRequest r = HeadlessRequestAt(0);
  EXPECT_EQ(kRequesterSaveFile, r.kind);
  EXPECT_EQ("Please choose file to save", std::string(r.title.c_str()));
  EXPECT_EQ("Executable files (*.exe)|*.exe", std::string(r.second.c_str()));
  EXPECT_EQ(0, JobRunning);
  EXPECT_EQ(0, HeadlessMessageCount());
  ExpectIdle();
}

TEST_F(MakerFlowTest, JobWritesOutputReportsAndReturnsToIdle) {
  HeadlessType(kGadgetFolderField, source_.c_str());  // typed without its separator
  WaitForEvent();
  std::string target = work_.Join("result");
  HeadlessAnswerSaveFile(target.c_str());
  Press(kGadgetSqueeze);
  ServeUntilJobEnds();

  ASSERT_EQ(1, seen_.reports.load());
  EXPECT_EQ(0, seen_.exitEnabled) << "Exit disabled during the job";
  EXPECT_EQ(0, seen_.squeezeEnabled);
  EXPECT_EQ(0, seen_.browseEnabled);
  EXPECT_EQ(1, seen_.aboutEnabled);
  EXPECT_EQ(100, seen_.progress);
  EXPECT_EQ("", seen_.status) << "the final report passes the empty text";
  EXPECT_EQ(1, seen_.jobRunning);
  EXPECT_EQ(1, seen_.aboutShown.load()) << "About answers during a job";

  bool sawReady = false;
  for (int i = 0; i < HeadlessMessageCount(); ++i) {
    HeadlessRequest m = HeadlessMessageAt(i);
    if (std::string(m.title.c_str()) == "About Vezovud") continue;
    EXPECT_EQ("Ready", std::string(m.title.c_str())) << m.first.c_str();
    sawReady = true;
    EXPECT_EQ("The archive was created sucessfully. 2 files were added.",
              std::string(m.first.c_str()));
    EXPECT_EQ(64, m.number);
  }
  EXPECT_TRUE(sawReady);
  ExpectIdle();
  EXPECT_EQ("", std::string(TempArchive.c_str()));
  EXPECT_EQ("", std::string(OutputFile.c_str()));

  std::vector<unsigned char> out = test_support::ReadWholeFile(target + ".exe");
  ASSERT_GT(out.size(), sizeof(kFakeStub) + 4);
  EXPECT_EQ(0, memcmp(out.data(), kFakeStub, sizeof(kFakeStub)));
  uint32_t a = zip_parser::Read32(out, out.size() - 4);
  EXPECT_EQ(out.size() - sizeof(kFakeStub) - 4, a) << "trailer holds the archive length";
  zip_parser::Archive zip = zip_parser::Parse(out, out.size() - 4);
  EXPECT_EQ("", zip.error);
  EXPECT_EQ(sizeof(kFakeStub), zip.displacement);
  EXPECT_EQ(4u, zip.central.size());
#ifndef _WIN32
  EXPECT_EQ("", foreign_readers::CheckAll(target + ".exe"));
#endif
}

TEST_F(MakerFlowTest, FailedJobShowsWhyKeepsTheOldOutputAndReturnsToIdle) {
#ifndef _WIN32
  // A name Windows cannot hold makes the archiver leave a file out.
  ASSERT_TRUE(WriteWholeFile(source_ + "/what?.txt", test_support::PatternBytes(10)));
#else
  GTEST_SKIP() << "needs a name that only POSIX can make";
#endif
  std::string target = work_.Join("old.exe");
  std::vector<unsigned char> old = {'o', 'l', 'd'};
  ASSERT_TRUE(WriteWholeFile(target, old));
  HeadlessType(kGadgetFolderField, (source_ + "/").c_str());
  WaitForEvent();
  HeadlessAnswerSaveFile(target.c_str());
  Press(kGadgetSqueeze);
  ServeUntilJobEnds();
  bool sawBox = false;
  for (int i = 0; i < HeadlessMessageCount(); ++i) {
    HeadlessRequest m = HeadlessMessageAt(i);
    if (std::string(m.title.c_str()) == "About Vezovud") continue;
    sawBox = true;
    EXPECT_EQ(48, m.number);
    EXPECT_NE(std::string::npos, std::string(m.first.c_str()).find("1 files"))
        << m.first.c_str();
  }
  EXPECT_TRUE(sawBox);
  EXPECT_TRUE(test_support::ReadWholeFile(target) == old) << "the old output is untouched";
  EXPECT_FALSE(test_support::Exists(target + ".vezovud-part"));
  ExpectIdle();
}

TEST_F(MakerFlowTest, AboutShowsTheAboutText) {
  HeadlessSetMessageHandler(nullptr);
  Press(kGadgetAbout);
  ASSERT_EQ(1, HeadlessMessageCount());
  HeadlessRequest m = HeadlessMessageAt(0);
  EXPECT_EQ("About Vezovud", std::string(m.title.c_str()));
  EXPECT_EQ(64, m.number);
  EXPECT_EQ(0, std::string(m.first.c_str()).find("Vezovud v1.1\n\r\n\rDescription: Vezovud is a "
                                                  "small tool to make\n\rSelf-Extracting ZIP "
                                                  "archives.\n\r"));
}

TEST_F(MakerFlowTest, CloseRequestIsIgnoredExitEnds) {
  HeadlessPostWindowEvent(0, kEventCloseWindow);
  EXPECT_EQ(0, HandleMakerEvent(WaitForEvent()));
  ASSERT_EQ(1, HeadlessClick(kGadgetExit));
  EXPECT_EQ(1, HandleMakerEvent(WaitForEvent()));
}

}  // namespace
