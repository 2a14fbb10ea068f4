// Tests of the headless window layer's contracts, which the programs' native
// tests rely on: numbered objects, events fed from other threads, scripted
// requesters, the message-box log and gadget operations from worker threads.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/window.h"
#include "runtime/window_headless.h"
#include "window/sample_layouts.h"

namespace {

std::string S(const Text& t) { return std::string(t.c_str(), t.Length()); }

// Each test starts with the stub's layout, its picture showing a 300 x 50 image.
class HeadlessWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWindows();
    HeadlessSetWaitTimeout(5000);  // no test may hang
    std::vector<uint8_t> image = window_test::MakeBitmap(300, 50, 0xFFFFFF, 0xFFFFFF);
    ASSERT_NE(ImageFromMemory(0, image.data(), (int32_t)image.size()), 0);
    ASSERT_EQ(window_test::OpenLayout(false), 1);
  }
  void TearDown() override { EndWindows(); }
};

TEST_F(HeadlessWindowTest, NumbersNotInUseDoNothingAndGiveZero) {
  EXPECT_EQ(BeginGadgets(WindowHandleOf(0) + 12345), 0) << "not a window of the layer";
  EXPECT_EQ(OpenWindowByNumber(-1, 0, 0, 10, 10, "w", 0), 0);
  EXPECT_EQ(OpenWindowByNumber(kMaxWindowNumber + 1, 0, 0, 10, 10, "w", 0), 0);
  EndWindows();  // every number of the layout is now unused too
  EXPECT_EQ(AddButton(9, 0, 0, 1, 1, "b"), 0) << "no gadget window";
  for (int32_t bad : {0, 3, 9, -1, kMaxGadgetNumber + 1, 0x7FFFFFFF}) {
    EXPECT_EQ(PutGadgetText(bad, "x"), 0) << bad;
    EXPECT_EQ(PutGadgetValue(bad, 1), 0) << bad;
    EXPECT_EQ(SetGadgetDisabled(bad, 1), 0) << bad;
    EXPECT_EQ(S(ReadGadgetText(bad)), "") << bad;
    EXPECT_EQ(HeadlessGadgetState(bad).exists, 0) << bad;
    EXPECT_EQ(WindowHandleOf(bad), 0) << bad;
    EXPECT_EQ(ShowOrHideWindow(bad, 0), 0) << bad;
    EXPECT_EQ(ImageHandleOf(bad), 0) << bad;
  }
}

TEST_F(HeadlessWindowTest, WindowWaitsForShowAndPictureTakesTheImageSize) {
  EXPECT_EQ(HeadlessWindowState(0).visible, 0) << "the invisible flag hides it until shown";
  EXPECT_EQ(ShowOrHideWindow(0, 0), 1);
  EXPECT_EQ(HeadlessWindowState(0).visible, 1);
  EXPECT_EQ(HeadlessGadgetState(2).width, 300) << "a picture takes its image's size";
  EXPECT_EQ(HeadlessGadgetState(2).height, 50);
  SetGadgetDisabled(6, 1);
  EXPECT_EQ(HeadlessClick(6), 0) << "a disabled button takes no click";
  intptr_t image = ImageHandleOf(0);
  std::vector<uint8_t> cut = window_test::MakeBitmap(4, 4, 0, 0);
  EXPECT_EQ(ImageFromMemory(0, cut.data(), (int32_t)cut.size() - 1), 0);
  EXPECT_EQ(ImageHandleOf(0), image) << "a damaged image leaves the old one";
}

TEST_F(HeadlessWindowTest, RequestersAnswerFromTheScriptAndAreLogged) {
  HeadlessAnswerFolder("D:\\Temp");
  HeadlessAnswerSaveFile("C:\\out\\result");
  EXPECT_EQ(S(AskForFolder("Choose a path please", "C:\\")), "D:\\Temp\\") << "ends in \\";
  EXPECT_EQ(S(AskForFolder("Choose a path please", "")), "") << "no answer left: Cancel";
  EXPECT_EQ(S(AskForSaveFile("Please choose file to save", "", "Exe|*.exe", 1)), "C:\\out\\result");
  EXPECT_EQ(S(AskForSaveFile("t", "", "", 0)), "");
  HeadlessSetMessageButton(2);
  EXPECT_EQ(ShowMessage("Vezovud", "Please choose a destination path!", kMessageExclamation), 2);

  ASSERT_EQ(HeadlessRequestCount(), 5);
  EXPECT_EQ(S(HeadlessRequestAt(0).first), "C:\\") << "the folder chooser's initial path";
  HeadlessRequest save = HeadlessRequestAt(2), box = HeadlessMessageAt(0);
  EXPECT_EQ(S(save.second), "Exe|*.exe");
  EXPECT_EQ(save.number, 1);
  ASSERT_EQ(HeadlessMessageCount(), 1);
  EXPECT_EQ(S(box.first), "Please choose a destination path!");
  EXPECT_EQ(box.number, kMessageExclamation);
  EXPECT_EQ(box.button, 2);
}

// Worker threads operate gadgets at once; their clicks wake the blocked wait.
TEST_F(HeadlessWindowTest, WorkerThreadsOperateGadgetsAndWakeTheWait) {
  HeadlessSetWaitTimeout(-1);  // the real layer's wait: for ever
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; w++) {
    workers.emplace_back([w] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the wait blocks first
      for (int i = 0; i <= 100; i++) {
        PutGadgetValue(5, i);
        PutGadgetText(3, w % 2 ? "Extracting files..." : "Ready");
        std::string seen = S(ReadGadgetText(3));
        EXPECT_TRUE(seen == "Extracting files..." || seen == "Ready") << seen;
      }
      ShowMessage("worker", "done", kMessageInformation);
      HeadlessClick(8);
    });
  }
  for (int clicks = 0; clicks < 4; clicks++) {
    EXPECT_EQ(WaitForEvent(), kEventGadget);
    EXPECT_EQ(LastEventGadget(), 8);
    EXPECT_EQ(LastEventType(), 0);
  }
  for (std::thread& t : workers) t.join();
  EXPECT_EQ(HeadlessGadgetState(5).value, 100);
  EXPECT_EQ(HeadlessMessageCount(), 4);
}

}  // namespace
