// The stub's flow through the headless window layer: start-up, Browse,
// the empty-destination warning, a whole run with its bar values and
// end-of-run box, failed entries, an empty payload, no payload, overlapping
// Extract clicks, close requests and Exit. The program's end is observed
// through the end hook instead of ending the test process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "extractor/stub_flow.h"
#include "runtime/system.h"
#include "runtime/window.h"
#include "runtime/window_headless.h"
#include "support/zip_writer.h"

namespace fs = std::filesystem;
using testzip::Entry;

namespace {

const int32_t kPollMilliseconds = 10;

std::atomic<int> end_calls{0};
std::atomic<int> end_code{-1};

void RecordEnd(int32_t code) {
  end_code = code;
  ++end_calls;
}

Entry Make(const std::string& name, const std::string& data) {
  Entry e;
  e.name = name;
  e.data = data;
  return e;
}

class StubFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    HeadlessReset();
    ResetStubFlow();
    SetStubEndHook(RecordEnd);
    end_calls = 0;
    end_code = -1;
    payload_ = folder_ / "setup.exe";
    testzip::WriteFile(payload_, testzip::OutputFile(testzip::BuildArchive({})));
    destination_ = folder_ / "out";
  }
  void TearDown() override {
    SetStubEndHook(nullptr);
    OverrideStubOwnPath("");
  }

  void Start(const std::vector<Entry>& entries) {
    testzip::WriteFile(payload_, testzip::OutputFile(testzip::BuildArchive(entries)));
    OverrideStubOwnPath(payload_.c_str());
    StartStub(nullptr, 0);
    HeadlessSetWaitTimeout(kPollMilliseconds);  // after start-up, which resets the layer
  }

  // Handles events until the queue stays empty for one wait.
  void Pump() {
    for (;;) {
      int32_t event = WaitForEvent();
      if (event == 0) return;
      HandleStubEvent(event);
    }
  }

  // Runs the event loop until the program ends, at most a few seconds.
  bool RunUntilEnd() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!StubHasEnded() || end_calls == 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      HandleStubEvent(WaitForEvent());
    }
    return true;
  }

  testzip::TempFolder folder_;
  std::string payload_;
  std::string destination_;
};

TEST_F(StubFlowTest, StartUpBuildsTheWindowHiddenAndThenShowsIt) {
  Start({});
  HeadlessWindow window = HeadlessWindowState(kStubWindowNumber);
  ASSERT_EQ(1, window.exists);
  EXPECT_EQ(1, window.visible);
  EXPECT_STREQ("Vezovud Archive", window.title.c_str());
  EXPECT_EQ(405, window.x);
  EXPECT_EQ(334, window.y);
  EXPECT_EQ(253, window.innerWidth);
  EXPECT_EQ(125, window.innerHeight);
  EXPECT_EQ(0x10C00000, window.flags);
  struct Expected {
    int32_t number, kind, x, y, width, height;
    const char* text;
  };
  const Expected gadgets[] = {
      {1, kGadgetTextField, 5, 55, 180, 20, ""},
      {3, kGadgetLabel, 5, 40, 245, 15, "Choose your destination directory:"},
      {4, kGadgetButton, 190, 55, 60, 20, "Browse"},
      {5, kGadgetProgressBar, 5, 80, 245, 15, ""},
      {6, kGadgetButton, 105, 100, 70, 20, "Exit"},
      {7, kGadgetButton, 180, 100, 70, 20, "Extract"},
      {8, kGadgetButton, 5, 100, 60, 20, "About"},
  };
  for (const Expected& g : gadgets) {
    HeadlessGadget state = HeadlessGadgetState(g.number);
    ASSERT_EQ(1, state.exists) << g.number;
    EXPECT_EQ(g.kind, state.kind) << g.number;
    EXPECT_EQ(g.x, state.x) << g.number;
    EXPECT_EQ(g.y, state.y) << g.number;
    EXPECT_EQ(g.width, state.width) << g.number;
    EXPECT_EQ(g.height, state.height) << g.number;
    if (g.kind != kGadgetProgressBar) {
      EXPECT_STREQ(g.text, state.text.c_str()) << g.number;
    }
  }
  EXPECT_EQ(1, HeadlessGadgetState(kBannerPicture).exists);
  EXPECT_EQ(100, HeadlessGadgetState(kProgressBar).maximum);
  EXPECT_EQ(0, HeadlessGadgetState(kProgressBar).value);
}

TEST_F(StubFlowTest, EmptyDestinationWarnsAndChangesNothing) {
  Start({Make("a.txt", "a")});
  HeadlessClick(kExtractButton);
  Pump();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(1, HeadlessMessageCount());
  HeadlessRequest box = HeadlessMessageAt(0);
  EXPECT_STREQ("Vezovud", box.title.c_str());
  EXPECT_STREQ("Please choose a destination path!", box.first.c_str());
  EXPECT_EQ(48, box.number);
  EXPECT_STREQ("Choose your destination directory:",
               HeadlessGadgetState(kPromptLine).text.c_str());
  EXPECT_EQ(0, end_calls.load()) << "the program goes on";
  // Extract can be used again afterwards.
  HeadlessType(kDestinationField, destination_.c_str());
  HeadlessClick(kExtractButton);
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_EQ("a", testzip::ReadFile(destination_ + kPathSeparator + "a.txt"));
}

TEST_F(StubFlowTest, BrowseEndsTheFieldWithOneBackslash) {
  Start({});
  HeadlessAnswerFolder("C:\\data");
  HeadlessClick(kBrowseButton);
  Pump();
  EXPECT_STREQ("C:\\data\\", HeadlessGadgetState(kDestinationField).text.c_str());
  HeadlessAnswerFolder("D:\\other\\");
  HeadlessClick(kBrowseButton);
  Pump();
  EXPECT_STREQ("D:\\other\\", HeadlessGadgetState(kDestinationField).text.c_str());
  HeadlessClick(kBrowseButton);  // no answer left: cancelled
  Pump();
  EXPECT_STREQ("D:\\other\\", HeadlessGadgetState(kDestinationField).text.c_str());
  HeadlessRequest request = HeadlessRequestAt(0);
  EXPECT_STREQ("Choose the destination path please", request.title.c_str());
  EXPECT_STREQ("", request.first.c_str());
}

TEST_F(StubFlowTest, BarStepsAreCounterTimesHundredOverTotal) {
  Start({});
  std::vector<int32_t> values;
  for (int i = 0; i < 4; ++i) {
    StepProgress(4);
    values.push_back(HeadlessGadgetState(kProgressBar).value);
  }
  EXPECT_EQ(std::vector<int32_t>({0, 25, 50, 75}), values);
  ResetStubFlow();
  StepProgress(0);
  EXPECT_EQ(0, HeadlessGadgetState(kProgressBar).value) << "no division by zero";
}

int32_t bar_at_box = -1;
std::string prompt_at_box;
int32_t ReadBarAtBox(const Text&, const Text&, int32_t) {
  bar_at_box = HeadlessGadgetState(kProgressBar).value;
  prompt_at_box = HeadlessGadgetState(kPromptLine).text.c_str();
  return kMessageButtonOk;
}

TEST_F(StubFlowTest, RunOfFourEntriesEndsWithTheBoxAndExitCodeZero) {
  Start({Make("a.txt", "a"), Make("sub\\b.txt", "b"), Make("sub\\c.txt", "c"),
         Make("d.txt", "d")});
  HeadlessSetMessageHandler(ReadBarAtBox);
  HeadlessType(kDestinationField, destination_.c_str());
  HeadlessClick(kExtractButton);
  ASSERT_TRUE(RunUntilEnd());
  ASSERT_EQ(1, HeadlessMessageCount());
  HeadlessRequest box = HeadlessMessageAt(0);
  EXPECT_STREQ("4", box.title.c_str());
  EXPECT_STREQ("The files were extracted successfully!", box.first.c_str());
  EXPECT_EQ(64, box.number);
  EXPECT_EQ(75, bar_at_box);
  EXPECT_EQ("Ready", prompt_at_box);
  EXPECT_EQ(1, end_calls.load());
  EXPECT_EQ(0, end_code.load());
  EXPECT_EQ("b", testzip::ReadFile(destination_ + kPathSeparator + "sub" + kPathSeparator + "b.txt"));
}

TEST_F(StubFlowTest, FailedEntriesAreCountedInAnExclamationBox) {
  Entry bad = Make("bad.txt", "tampered");
  bad.fixCrc = true;
  bad.crc = 1;
  Start({Make("a.txt", "a"), bad, Make("..\\evil.txt", "evil")});
  HeadlessType(kDestinationField, destination_.c_str());
  HeadlessClick(kExtractButton);
  ASSERT_TRUE(RunUntilEnd());
  ASSERT_EQ(1, HeadlessMessageCount());
  HeadlessRequest box = HeadlessMessageAt(0);
  EXPECT_STREQ("3", box.title.c_str()) << "the caption stays the total";
  EXPECT_STREQ("2 of 3 entries could not be extracted.", box.first.c_str());
  EXPECT_EQ(48, box.number);
  EXPECT_FALSE(fs::exists(folder_ / "evil.txt"));
  EXPECT_EQ(0, end_code.load());
}

TEST_F(StubFlowTest, EmptyPayloadMakesTheDestinationAndEndsNormally) {
  Start({});
  HeadlessType(kDestinationField, destination_.c_str());
  HeadlessClick(kExtractButton);
  ASSERT_TRUE(RunUntilEnd());
  ASSERT_EQ(1, HeadlessMessageCount());
  EXPECT_STREQ("0", HeadlessMessageAt(0).title.c_str());
  EXPECT_EQ(64, HeadlessMessageAt(0).number);
  EXPECT_EQ(0, HeadlessGadgetState(kProgressBar).value);
  EXPECT_TRUE(fs::is_directory(destination_));
  EXPECT_EQ(0, end_code.load());
}

TEST_F(StubFlowTest, NoPayloadEndsWithoutABox) {
  testzip::WriteFile(payload_, testzip::StubPrefix(testzip::kStubImageBytes));
  OverrideStubOwnPath(payload_.c_str());
  StartStub(nullptr, 0);
  HeadlessSetWaitTimeout(kPollMilliseconds);
  HeadlessType(kDestinationField, destination_.c_str());
  HeadlessClick(kExtractButton);
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_EQ(0, HeadlessMessageCount());
  EXPECT_STREQ("Ready", HeadlessGadgetState(kPromptLine).text.c_str());
  EXPECT_FALSE(fs::exists(destination_));
}

// While the end-of-run box is up, a second Extract and a Browse arrive.
int32_t ClickDuringBox(const Text&, const Text&, int32_t) {
  HeadlessAnswerFolder("Z:\\elsewhere");
  HeadlessClick(kBrowseButton);
  HeadlessClick(kExtractButton);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return kMessageButtonOk;
}

TEST_F(StubFlowTest, SecondExtractDuringARunIsIgnored) {
  Start({Make("a.txt", "a")});
  HeadlessSetMessageHandler(ClickDuringBox);
  HeadlessType(kDestinationField, destination_.c_str());
  HeadlessClick(kExtractButton);
  ASSERT_TRUE(RunUntilEnd());
  Pump();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(1, HeadlessMessageCount()) << "one run, one box";
  EXPECT_EQ(1, end_calls.load());
  EXPECT_STREQ("Z:\\elsewhere\\", HeadlessGadgetState(kDestinationField).text.c_str());
  EXPECT_EQ("a", testzip::ReadFile(destination_ + kPathSeparator + "a.txt"))
      << "the run kept the destination it read at its start";
}

TEST_F(StubFlowTest, CloseRequestsChangeNothingAboutAndExitWork) {
  Start({});
  HeadlessPostWindowEvent(kStubWindowNumber, kEventCloseWindow);
  Pump();
  EXPECT_EQ(1, HeadlessWindowState(kStubWindowNumber).visible);
  EXPECT_EQ(0, end_calls.load());
  HeadlessClick(kAboutButton);
  Pump();
  ASSERT_EQ(1, HeadlessMessageCount());
  EXPECT_STREQ("About Vezovud", HeadlessMessageAt(0).title.c_str());
  EXPECT_EQ(0, std::string(HeadlessMessageAt(0).first.c_str())
                   .find("Vezovud v1.1\n\r\n\rDescription: Vezovud is a small tool to make\n\r"
                         "Self-Extracting ZIP archives.\n\r"));
  EXPECT_EQ(64, HeadlessMessageAt(0).number);
  HeadlessClick(kExitButton);
  Pump();
  EXPECT_EQ(1, end_calls.load());
  EXPECT_EQ(0, end_code.load());
}

}  // namespace
