// Tests of the headless window layer's contracts: numbered objects, events
// fed from other threads, the Tab order, scripted requesters and gadget
// operations from worker threads. Later tests of the programs rely on them.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/window.h"
#include "runtime/window_headless.h"
#include "window/bitmap_maker.h"

namespace {

using window_test::MakeSolidBitmap;

std::string S(const Text& t) { return std::string(t.c_str(), t.Length()); }

class HeadlessWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWindows();
    // No test may hang: a wait without an event gives up after 5 s.
    HeadlessSetWaitTimeout(5000);
  }
  void TearDown() override { EndWindows(); }

  // The Extractor's layout: window 0 with gadgets 1 to 8.
  void OpenStubLayout() {
    std::vector<uint8_t> banner = MakeSolidBitmap(253, 34, 0xFFFFFF);
    intptr_t image = ImageFromMemory(0, banner.data(), (int32_t)banner.size());
    ASSERT_NE(image, 0);
    ASSERT_NE(OpenWindowByNumber(0, 405, 334, 253, 125, "Vezovud Archive", 0x10C00000), 0);
    ASSERT_NE(BeginGadgets(WindowHandleOf(0)), 0);
    ASSERT_NE(AddTextField(1, 5, 55, 180, 20, ""), 0);
    ASSERT_NE(AddPicture(2, 0, 0, 253, 34, ImageHandleOf(0)), 0);
    ASSERT_NE(AddLabel(3, 5, 40, 245, 15, "Choose your destination directory:"), 0);
    ASSERT_NE(AddButton(4, 190, 55, 60, 20, "Browse"), 0);
    ASSERT_NE(AddProgressBar(5, 5, 80, 245, 15, 0, 100), 0);
    ASSERT_NE(AddButton(6, 105, 100, 70, 20, "Exit"), 0);
    ASSERT_NE(AddButton(7, 180, 100, 70, 20, "Extract"), 0);
    ASSERT_NE(AddButton(8, 5, 100, 60, 20, "About"), 0);
  }
};

TEST_F(HeadlessWindowTest, NumbersNotInUseDoNothingAndGiveZero) {
  EXPECT_EQ(WindowHandleOf(0), 0);
  EXPECT_EQ(ShowOrHideWindow(0, 0), 0);
  EXPECT_EQ(ImageHandleOf(0), 0);
  EXPECT_EQ(PutGadgetText(3, "x"), 0);
  EXPECT_EQ(PutGadgetValue(3, 1), 0);
  EXPECT_EQ(SetGadgetDisabled(3, 1), 0);
  EXPECT_EQ(S(ReadGadgetText(3)), "");
  EXPECT_EQ(HeadlessGadgetState(3).exists, 0);
  // Out-of-range numbers, negative ones included, are refused the same way.
  for (int32_t bad : {-1, -2, kMaxGadgetNumber + 1, 0x7FFFFFFF}) {
    EXPECT_EQ(PutGadgetText(bad, "x"), 0) << bad;
    EXPECT_EQ(S(ReadGadgetText(bad)), "") << bad;
    EXPECT_EQ(HeadlessGadgetState(bad).exists, 0) << bad;
  }
  EXPECT_EQ(OpenWindowByNumber(-1, 0, 0, 10, 10, "w", 0), 0);
  EXPECT_EQ(OpenWindowByNumber(kMaxWindowNumber + 1, 0, 0, 10, 10, "w", 0), 0);
  EXPECT_EQ(WindowHandleOf(kMaxWindowNumber + 1), 0);
  EXPECT_EQ(ImageHandleOf(-5), 0);
}

TEST_F(HeadlessWindowTest, GadgetsNeedAGadgetWindow) {
  // No BeginGadgets yet: nothing can be created.
  EXPECT_EQ(AddButton(0, 0, 0, 10, 10, "b"), 0);
  intptr_t window = OpenWindowByNumber(0, 1, 2, 30, 40, "t", 0);
  ASSERT_NE(window, 0);
  EXPECT_EQ(AddButton(0, 0, 0, 10, 10, "b"), 0);
  // A handle the layer did not make is no gadget window.
  EXPECT_EQ(BeginGadgets(window + 12345), 0);
  EXPECT_EQ(BeginGadgets(0), 0);
  EXPECT_EQ(BeginGadgets(window), window);
  EXPECT_NE(AddButton(0, 0, 0, 10, 10, "b"), 0);
}

TEST_F(HeadlessWindowTest, StubLayoutGadgetsKeepKindPlaceAndContent) {
  OpenStubLayout();
  HeadlessWindow w = HeadlessWindowState(0);
  EXPECT_EQ(w.exists, 1);
  EXPECT_EQ(S(w.title), "Vezovud Archive");
  EXPECT_EQ(w.x, 405);
  EXPECT_EQ(w.y, 334);
  EXPECT_EQ(w.innerWidth, 253);
  EXPECT_EQ(w.innerHeight, 125);
  // The invisible flag keeps it hidden until shown.
  EXPECT_EQ(w.visible, 0);
  EXPECT_EQ(ShowOrHideWindow(0, 0), 1);
  EXPECT_EQ(HeadlessWindowState(0).visible, 1);
  EXPECT_EQ(ShowOrHideWindow(0, 1), 1);
  EXPECT_EQ(HeadlessWindowState(0).visible, 0);

  struct Expected { int32_t number, kind, x, y, width, height; const char* text; };
  const Expected table[] = {
      {1, kGadgetTextField, 5, 55, 180, 20, ""},
      {2, kGadgetPicture, 0, 0, 253, 34, ""},
      {3, kGadgetLabel, 5, 40, 245, 15, "Choose your destination directory:"},
      {4, kGadgetButton, 190, 55, 60, 20, "Browse"},
      {5, kGadgetProgressBar, 5, 80, 245, 15, ""},
      {6, kGadgetButton, 105, 100, 70, 20, "Exit"},
      {7, kGadgetButton, 180, 100, 70, 20, "Extract"},
      {8, kGadgetButton, 5, 100, 60, 20, "About"},
  };
  for (const Expected& e : table) {
    HeadlessGadget g = HeadlessGadgetState(e.number);
    EXPECT_EQ(g.exists, 1) << e.number;
    EXPECT_EQ(g.kind, e.kind) << e.number;
    EXPECT_EQ(g.window, 0) << e.number;
    EXPECT_EQ(g.x, e.x) << e.number;
    EXPECT_EQ(g.y, e.y) << e.number;
    EXPECT_EQ(g.width, e.width) << e.number;
    EXPECT_EQ(g.height, e.height) << e.number;
    EXPECT_EQ(S(g.text), e.text) << e.number;
    EXPECT_EQ(g.enabled, 1) << e.number;
  }
  EXPECT_EQ(HeadlessGadgetState(2).image, ImageHandleOf(0));
  EXPECT_EQ(HeadlessGadgetState(5).minimum, 0);
  EXPECT_EQ(HeadlessGadgetState(5).maximum, 100);
  EXPECT_EQ(HeadlessGadgetState(5).value, 0);
}

TEST_F(HeadlessWindowTest, PictureTakesTheImageSize) {
  ASSERT_NE(OpenWindowByNumber(0, 0, 0, 400, 200, "t", 0), 0);
  ASSERT_NE(BeginGadgets(WindowHandleOf(0)), 0);
  std::vector<uint8_t> big = MakeSolidBitmap(300, 50, 0x123456);
  intptr_t image = ImageFromMemory(3, big.data(), (int32_t)big.size());
  ASSERT_NE(image, 0);
  ASSERT_NE(AddPicture(1, 7, 8, 253, 34, image), 0);
  HeadlessGadget g = HeadlessGadgetState(1);
  EXPECT_EQ(g.width, 300);
  EXPECT_EQ(g.height, 50);
  EXPECT_EQ(g.x, 7);
  // Image 3 replaced: the picture shows the new one, at its size.
  std::vector<uint8_t> small = MakeSolidBitmap(100, 20, 0x00FF00);
  intptr_t replaced = ImageFromMemory(3, small.data(), (int32_t)small.size());
  ASSERT_NE(replaced, 0);
  EXPECT_EQ(HeadlessGadgetState(1).image, replaced);
  EXPECT_EQ(HeadlessGadgetState(1).width, 100);
  EXPECT_EQ(HeadlessGadgetState(1).height, 20);
  // Without an image the picture keeps the size it was given.
  ASSERT_NE(AddPicture(2, 0, 0, 253, 34, 0), 0);
  EXPECT_EQ(HeadlessGadgetState(2).width, 253);
  EXPECT_EQ(HeadlessGadgetState(2).height, 34);
}

TEST_F(HeadlessWindowTest, UsingANumberAgainReplacesTheObject) {
  OpenStubLayout();
  intptr_t before = WindowHandleOf(0);
  // A gadget number used again replaces the gadget, kind and all.
  ASSERT_NE(BeginGadgets(before), 0);
  ASSERT_NE(AddLabel(4, 1, 2, 3, 4, "now a label"), 0);
  EXPECT_EQ(HeadlessGadgetState(4).kind, kGadgetLabel);
  EXPECT_EQ(S(ReadGadgetText(4)), "now a label");
  // A window opened again drops the old window's gadgets and gadget list.
  intptr_t after = OpenWindowByNumber(0, 0, 0, 10, 10, "again", 0);
  ASSERT_NE(after, 0);
  EXPECT_NE(after, before);
  EXPECT_EQ(HeadlessGadgetState(1).exists, 0);
  EXPECT_EQ(HeadlessGadgetState(8).exists, 0);
  EXPECT_EQ(AddButton(1, 0, 0, 1, 1, "b"), 0);
  EXPECT_EQ(HeadlessWindowState(0).visible, 1);
}

TEST_F(HeadlessWindowTest, GadgetValuesFollowTheKind) {
  OpenStubLayout();
  EXPECT_EQ(PutGadgetValue(5, 42), 1);
  EXPECT_EQ(HeadlessGadgetState(5).value, 42);
  // A progress bar clips to its range like the native control.
  PutGadgetValue(5, 250);
  EXPECT_EQ(HeadlessGadgetState(5).value, 100);
  PutGadgetValue(5, -3);
  EXPECT_EQ(HeadlessGadgetState(5).value, 0);
  // A button is checked for any non-zero value.
  PutGadgetValue(7, -9);
  EXPECT_EQ(HeadlessGadgetState(7).value, 1);
  PutGadgetValue(7, 0);
  EXPECT_EQ(HeadlessGadgetState(7).value, 0);
  // A label has no value, yet the call names a gadget in use.
  EXPECT_EQ(PutGadgetValue(3, 5), 1);
  EXPECT_EQ(HeadlessGadgetState(3).value, 0);
  EXPECT_EQ(SetGadgetDisabled(6, 1), 1);
  EXPECT_EQ(HeadlessGadgetState(6).enabled, 0);
  EXPECT_EQ(SetGadgetDisabled(6, 0), 1);
  EXPECT_EQ(HeadlessGadgetState(6).enabled, 1);
  EXPECT_EQ(PutGadgetText(3, "Ready"), 1);
  EXPECT_EQ(S(ReadGadgetText(3)), "Ready");
}

TEST_F(HeadlessWindowTest, EventFromAnotherThreadWakesTheWait) {
  OpenStubLayout();
  HeadlessSetWaitTimeout(-1);  // the real layer's wait: for ever
  std::thread clicker([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    HeadlessClick(7);
  });
  EXPECT_EQ(WaitForEvent(), kEventGadget);
  EXPECT_EQ(LastEventGadget(), 7);
  EXPECT_EQ(LastEventType(), 0);
  EXPECT_EQ(LastEventWindow(), 0);
  clicker.join();
}

TEST_F(HeadlessWindowTest, EventsComeInOrderAndEqualWindowEventsMerge) {
  OpenStubLayout();
  HeadlessSetWaitTimeout(0);
  EXPECT_EQ(HeadlessPostWindowEvent(0, kEventCloseWindow), 1);
  // The same window event again, right behind, is dropped.
  EXPECT_EQ(HeadlessPostWindowEvent(0, kEventCloseWindow), 0);
  EXPECT_EQ(HeadlessClick(4), 1);
  EXPECT_EQ(HeadlessClick(4), 1);  // gadget events are never merged
  EXPECT_EQ(HeadlessPostWindowEvent(0, kEventCloseWindow), 1);
  EXPECT_EQ(HeadlessPostWindowEvent(1, kEventCloseWindow), 0);  // no window 1

  EXPECT_EQ(WaitForEvent(), kEventCloseWindow);
  EXPECT_EQ(LastEventType(), kEventTypeNone);
  EXPECT_EQ(WaitForEvent(), kEventGadget);
  EXPECT_EQ(LastEventGadget(), 4);
  EXPECT_EQ(WaitForEvent(), kEventGadget);
  EXPECT_EQ(WaitForEvent(), kEventCloseWindow);
  // The close request leaves the gadget of the last gadget event in place.
  EXPECT_EQ(LastEventGadget(), 4);
  EXPECT_EQ(WaitForEvent(), 0);  // nothing left: the test timeout answers
}

TEST_F(HeadlessWindowTest, ClicksAndTypingNeedAnEnabledGadgetOfTheRightKind) {
  OpenStubLayout();
  HeadlessSetWaitTimeout(0);
  SetGadgetDisabled(7, 1);
  EXPECT_EQ(HeadlessClick(7), 0);
  EXPECT_EQ(HeadlessClick(3), 0);   // a label takes no click
  EXPECT_EQ(HeadlessClick(99), 0);  // no such gadget
  EXPECT_EQ(HeadlessType(4, "x"), 0);
  EXPECT_EQ(WaitForEvent(), 0);
  EXPECT_EQ(HeadlessClick(2), 1);  // the picture does
  EXPECT_EQ(HeadlessType(1, "C:\\out"), 1);
  EXPECT_EQ(WaitForEvent(), kEventGadget);
  EXPECT_EQ(LastEventGadget(), 2);
  EXPECT_EQ(WaitForEvent(), kEventGadget);
  EXPECT_EQ(LastEventGadget(), 1);
  EXPECT_EQ(LastEventType(), kEventTypeTextChanged);
  EXPECT_EQ(S(ReadGadgetText(1)), "C:\\out");
}

TEST_F(HeadlessWindowTest, TabFollowsCreationOrderAndSkipsDisabledGadgets) {
  OpenStubLayout();
  HeadlessSetWaitTimeout(0);
  std::vector<int32_t> order;
  for (int i = 0; i < 6; i++) {
    HeadlessPressTab(1);
    order.push_back(HeadlessFocusedGadget());
  }
  EXPECT_EQ(order, (std::vector<int32_t>{1, 4, 6, 7, 8, 1}));
  HeadlessPressTab(0);
  EXPECT_EQ(HeadlessFocusedGadget(), 8);
  SetGadgetDisabled(6, 1);
  HeadlessPressTab(0);
  HeadlessPressTab(0);
  EXPECT_EQ(HeadlessFocusedGadget(), 4);
  // The text field reported gaining and losing the focus, in order.
  std::vector<int32_t> types;
  while (WaitForEvent() == kEventGadget) {
    EXPECT_EQ(LastEventGadget(), 1);
    types.push_back(LastEventType());
  }
  EXPECT_EQ(types, (std::vector<int32_t>{kEventTypeFocus, kEventTypeFocusLost, kEventTypeFocus,
                                         kEventTypeFocusLost}));
}

TEST_F(HeadlessWindowTest, RequestersAnswerFromTheScriptThenCancel) {
  HeadlessAnswerFolder("D:\\Temp");
  HeadlessAnswerFolder("D:\\");
  HeadlessAnswerSaveFile("C:\\out\\result");
  // Folders end in exactly one "\", as the real chooser's do.
  EXPECT_EQ(S(AskForFolder("Choose a path please", "")), "D:\\Temp\\");
  EXPECT_EQ(S(AskForFolder("Choose a path please", "C:\\")), "D:\\");
  EXPECT_EQ(S(AskForFolder("Choose a path please", "")), "");  // no answer left: Cancel
  EXPECT_EQ(S(AskForSaveFile("Please choose file to save", "", "Executable files (*.exe)|*.exe", 0)),
            "C:\\out\\result");
  EXPECT_EQ(S(AskForSaveFile("t", "", "", 0)), "");

  ASSERT_EQ(HeadlessRequestCount(), 5);
  HeadlessRequest second = HeadlessRequestAt(1);
  EXPECT_EQ(second.kind, kRequesterFolder);
  EXPECT_EQ(S(second.first), "C:\\");
  EXPECT_EQ(S(second.answer), "D:\\");
  HeadlessRequest save = HeadlessRequestAt(3);
  EXPECT_EQ(save.kind, kRequesterSaveFile);
  EXPECT_EQ(S(save.title), "Please choose file to save");
  EXPECT_EQ(S(save.second), "Executable files (*.exe)|*.exe");
  EXPECT_EQ(save.number, 0);
  EXPECT_EQ(HeadlessRequestAt(5).kind, 0);
  EXPECT_EQ(HeadlessRequestAt(-1).kind, 0);
  EXPECT_EQ(HeadlessMessageCount(), 0);
}

TEST_F(HeadlessWindowTest, MessageBoxesAreLoggedWithTheScriptedButton) {
  EXPECT_EQ(ShowMessage("About Vezovud", "Vezovud v1.1\n\r\n\rDescription", kMessageInformation),
            kMessageButtonOk);
  HeadlessSetMessageButton(2);
  EXPECT_EQ(ShowMessage("Vezovud", "Please choose a destination path!", kMessageExclamation), 2);
  ASSERT_EQ(HeadlessMessageCount(), 2);
  HeadlessRequest first = HeadlessMessageAt(0);
  EXPECT_EQ(S(first.title), "About Vezovud");
  EXPECT_EQ(S(first.first), "Vezovud v1.1\n\r\n\rDescription");
  EXPECT_EQ(first.number, 64);
  HeadlessRequest second = HeadlessMessageAt(1);
  EXPECT_EQ(second.number, 48);
  EXPECT_EQ(second.button, 2);
  EXPECT_EQ(HeadlessMessageAt(2).kind, 0);
}

// The handler runs while the box is "up": it may use the layer, as a user
// pressing a button while the About box shows would.
int32_t ClickWhileBoxIsUp(const Text&, const Text&, int32_t) {
  HeadlessClick(8);
  return 7;
}

TEST_F(HeadlessWindowTest, MessageHandlerMayUseTheLayer) {
  OpenStubLayout();
  HeadlessSetWaitTimeout(0);
  HeadlessSetMessageHandler(ClickWhileBoxIsUp);
  EXPECT_EQ(ShowMessage("t", "x", 64), 7);
  EXPECT_EQ(WaitForEvent(), kEventGadget);
  EXPECT_EQ(LastEventGadget(), 8);
  EXPECT_EQ(HeadlessMessageAt(0).button, 7);
}

TEST_F(HeadlessWindowTest, WorkerThreadsOperateGadgetsWhileTheWindowThreadWaits) {
  OpenStubLayout();
  std::atomic<bool> sawOwnWrites{true};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; w++) {
    workers.emplace_back([w, &sawOwnWrites] {
      for (int i = 0; i <= 100; i++) {
        PutGadgetValue(5, i);
        PutGadgetText(3, w % 2 ? "Extracting files..." : "Ready");
        Text t = ReadGadgetText(3);
        if (S(t) != "Extracting files..." && S(t) != "Ready") sawOwnWrites = false;
        SetGadgetDisabled(6, i % 2);
      }
      ShowMessage(Text("worker"), Text("done"), 64);
      HeadlessClick(8);
    });
  }
  int clicks = 0;
  while (clicks < 4 && WaitForEvent() == kEventGadget) clicks += LastEventGadget() == 8;
  for (std::thread& t : workers) t.join();
  EXPECT_EQ(clicks, 4);
  EXPECT_TRUE(sawOwnWrites);
  EXPECT_EQ(HeadlessGadgetState(5).value, 100);
  EXPECT_EQ(HeadlessGadgetState(6).enabled, 1);  // i = 100 enables it
  EXPECT_EQ(HeadlessMessageCount(), 4);
}

TEST_F(HeadlessWindowTest, EndWindowsForgetsEverything) {
  OpenStubLayout();
  EndWindows();
  EXPECT_EQ(WindowHandleOf(0), 0);
  EXPECT_EQ(ImageHandleOf(0), 0);
  EXPECT_EQ(HeadlessGadgetState(1).exists, 0);
  EXPECT_EQ(PutGadgetText(3, "x"), 0);
  EXPECT_EQ(BeginGadgets(12345), 0);
}

TEST_F(HeadlessWindowTest, DamagedImagesAreRefusedAndKeepTheOldOne) {
  std::vector<uint8_t> good = MakeSolidBitmap(4, 4, 0);
  intptr_t first = ImageFromMemory(1, good.data(), (int32_t)good.size());
  ASSERT_NE(first, 0);
  std::vector<uint8_t> bad = good;
  bad[0] = 'X';
  EXPECT_EQ(ImageFromMemory(1, bad.data(), (int32_t)bad.size()), 0);
  EXPECT_EQ(ImageFromMemory(1, good.data(), (int32_t)good.size() - 1), 0);
  EXPECT_EQ(ImageFromMemory(1, nullptr, 100), 0);
  EXPECT_EQ(ImageHandleOf(1), first);
  EXPECT_EQ(ImageFromMemory(kMaxImageNumber + 1, good.data(), (int32_t)good.size()), 0);
}

}  // namespace
