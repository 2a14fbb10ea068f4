// The stub's flow through the headless window layer: Browse, close, About, Exit; runs with the
// empty-destination warning, clicks during the run, the end box and its bar; the end hook.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "extractor/stub_flow.h"
#include "runtime/system.h"
#include "runtime/window_headless.h"
#include "support/handshake.h"
#include "support/zip_writer.h"

namespace fs = std::filesystem;
using testzip::Entry;

namespace {

std::atomic<int> end_calls{0}, end_code{-1}, first_end_code{-1};
void RecordEnd(int32_t code) {
  if (end_calls == 0) first_end_code = code;
  end_code = code;
  ++end_calls;
}

std::string Box(int32_t i) {  // caption|text|style of message box i
  HeadlessRequest m = HeadlessMessageAt(i);
  return std::string(m.title.c_str()) + "|" + m.first.c_str() + "|" + std::to_string(m.number);
}

// Extract clicks that the test's event loop has handled.
handshake::Counter extracts_handled;

// At the end box: reads the bar and prompt; a Browse, an Exit and a second Extract arrive while
// the run is on, and the box stays up until the event loop has handled them (the Extract last).
int32_t bar_at_box = -1;
std::string prompt_at_box;
bool clicks_handled_at_box = false;
int32_t AtEndBox(const Text&, const Text&, int32_t) {
  bar_at_box = HeadlessGadgetState(kGadgetProgress).value;
  prompt_at_box = HeadlessGadgetState(kGadgetPrompt).text.c_str();
  HeadlessAnswerFolder("Z:\\elsewhere");
  int seen = extracts_handled.Count();
  HeadlessClick(kGadgetBrowse);
  HeadlessClick(kGadgetExit);
  HeadlessClick(kGadgetExtract);
  clicks_handled_at_box = extracts_handled.WaitAbove(seen);
  return kMessageButtonOk;
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
    first_end_code = -1;
    clicks_handled_at_box = false;
  }
  // The stub, run from an output file; cut bytes off its end for a damaged download.
  void Start(const std::vector<Entry>& entries, size_t cut = 0) {
    std::string file = testzip::gOutputFile(testzip::BuildArchive(entries));
    testzip::WriteFile(payload_, file.substr(0, file.size() - cut));
    OverrideStubOwnPath(payload_.c_str());
    StartStub(nullptr, 0);
    HeadlessSetWaitTimeout(10);  // after start-up, which resets the layer
  }
  // The event loop's step: handles one event, counting Extract clicks.
  void Handle(int32_t event) {
    HandleStubEvent(event);
    if (event == kEventGadget && LastEventGadget() == kGadgetExtract) extracts_handled.Raise();
  }
  void Pump() {  // handles events until the queue stays empty for one wait
    for (int32_t event; (event = WaitForEvent()) != 0;) Handle(event);
  }
  // Types the destination, presses Extract and runs the event loop until the end (about 20 s).
  bool Extract() {
    HeadlessType(kGadgetDestinationField, destination_.c_str());
    HeadlessClick(kGadgetExtract);
    for (int i = 0; i < 2000 && !(StubHasEnded() && end_calls); ++i) Handle(WaitForEvent());
    return end_calls > 0;
  }
  std::string Out(std::string name) {  // an extracted file's bytes; "" when missing
    for (char& c : name) c = c == '\\' ? kPathSeparator : c;
    return testzip::ReadFile(destination_ + kPathSeparator + name);
  }

  testzip::TempFolder folder_;
  std::string payload_ = folder_ / "setup.exe";
  std::string destination_ = folder_ / "out";
};

TEST_F(StubFlowTest, BrowseCloseAboutAndExit) {
  Start({});
  EXPECT_STREQ("Vezovud Archive", HeadlessWindowState(kStubWindowNumber).title.c_str());
  const char* rows[][2] = {{"C:\\data", "C:\\data\\"},
                           {"D:\\other\\", "D:\\other\\"},
                           {nullptr, "D:\\other\\"}};  // no answer: cancelled
  for (auto& row : rows) {
    if (row[0]) HeadlessAnswerFolder(row[0]);
    HeadlessClick(kGadgetBrowse);
    Pump();
    EXPECT_STREQ(row[1], HeadlessGadgetState(kGadgetDestinationField).text.c_str()) << row[1];
  }
  EXPECT_STREQ("Choose the destination path please", HeadlessRequestAt(0).title.c_str());
  HeadlessPostWindowEvent(kStubWindowNumber, kEventCloseWindow);
  HeadlessClick(kGadgetAbout);
  Pump();
  EXPECT_EQ(1, HeadlessWindowState(kStubWindowNumber).visible) << "a close request changes nothing";
  EXPECT_EQ(0, end_calls.load());
  ASSERT_EQ(1, HeadlessMessageCount());
  EXPECT_EQ(0, Box(0).find("About Vezovud|Vezovud v1.1\n\r\n\rDescription: Vezovud is a small tool "
                           "to make\n\rSelf-Extracting ZIP archives.\n\r"));
  EXPECT_EQ(64, HeadlessMessageAt(0).number);
  HeadlessClick(kGadgetExit);
  Pump();
  EXPECT_EQ(1, end_calls.load());
  EXPECT_EQ(0, end_code.load());
}

TEST_F(StubFlowTest, RunsWarnOnAnEmptyDestinationThenEndWithTheirBox) {
  // box: caption|text|style of the end box; bar: its value then; cut: bytes cut off the end.
  struct Row {
    const char* label;
    std::vector<Entry> entries;
    std::string box;
    int32_t bar, code;
    size_t cut;
  };
  const std::vector<Entry> four = {{"a.txt", "a"}, {"s\\b.txt", "b"}, {"s\\c", "c"}, {"d", "d"}};
  std::vector<Entry> bad = {{"a.txt", "a"}, {"..\\evil.txt", "evil"}};
  bad.insert(bad.begin() + 1, testzip::WithCrc({"bad.txt", "tampered"}, 1));
  const std::string ok = "|The files were extracted successfully!|64";
  const Row rows[] = {
      {"four entries", four, "4" + ok, 75, 0, 0},
      {"bad CRC and traversal", bad, "3|2 of 3 entries could not be extracted.|48", 66, 1, 0},
      {"empty: no division by zero", {}, "0" + ok, 0, 0, 0},
      {"damaged download", four, std::string("Vezovud|") + kNoArchiveText + "|48", 0, 1, 30}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    SetUp();
    fs::remove_all(destination_);
    Start(row.entries, row.cut);
    HeadlessClick(kGadgetExtract);  // the field is still empty
    Pump();
    ASSERT_TRUE(handshake::WaitUntil([] { return StubRunActive() == 0; })) << "the run ends";
    ASSERT_EQ(1, HeadlessMessageCount());
    EXPECT_EQ("Vezovud|Please choose a destination path!|48", Box(0));
    EXPECT_EQ(0, end_calls.load()) << "the program goes on";
    HeadlessSetMessageHandler(AtEndBox);
    ASSERT_TRUE(Extract());
    Pump();
    EXPECT_TRUE(clicks_handled_at_box) << "Browse, Exit and Extract handled while the box was up";
    ASSERT_EQ(2, HeadlessMessageCount()) << "the Extract during the run started no second one";
    EXPECT_EQ(row.box, Box(1));
    EXPECT_EQ(row.bar, bar_at_box);
    EXPECT_EQ("Ready", prompt_at_box);
    // Exit at the box ends the program with the run's exit code; the run's own end follows.
    ASSERT_TRUE(handshake::WaitUntil([] { return end_calls == 2; }));
    EXPECT_EQ(row.code, first_end_code.load());
    EXPECT_EQ(row.code, end_code.load());
    EXPECT_STREQ("Z:\\elsewhere\\", HeadlessGadgetState(kGadgetDestinationField).text.c_str());
    // The run kept the destination read at its start; a damaged file wrote nothing.
    EXPECT_EQ(row.cut == 0, fs::is_directory(destination_));
    if (row.cut != 0) continue;
    EXPECT_FALSE(fs::exists(folder_ / "evil.txt"));
    for (const Entry& e : row.entries)  // "" where the data failed its check or the name
      EXPECT_EQ(e.crc >= 0 || e.name[0] == '.' ? "" : e.data, Out(e.name)) << e.name;
  }
}

}  // namespace
