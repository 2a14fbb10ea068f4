// Tests of the Win32 window layer, run under Wine with Xvfb: window geometry,
// the picture, events, Tab order, gadget operations from worker threads, the
// requesters and clean-up. Helper threads play the user pressing buttons.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/window.h"
#include "window/sample_layouts.h"

namespace {

const DWORD kTimeoutMs = 5000;
const UINT kTickMs = 20;

std::string S(const Text& t) { return std::string(t.c_str(), t.Length()); }
HWND Gadget(int number) { return GetDlgItem((HWND)WindowHandleOf(0), number); }

// Serves the event wait for ms (a thread timer keeps it returning), or until
// a gadget event of gadget; returns every code it gave.
std::vector<int32_t> Pump(DWORD ms, int32_t gadget = -1) {
  std::vector<int32_t> codes;
  UINT_PTR timer = SetTimer(NULL, 0, kTickMs, NULL);
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) {
    codes.push_back(WaitForEvent());
    if (codes.back() == kEventGadget && LastEventGadget() == gadget) break;
  }
  KillTimer(NULL, timer);
  return codes;
}
bool WaitForGadget(int32_t gadget) {
  return Pump(kTimeoutMs, gadget).back() == kEventGadget && LastEventGadget() == gadget;
}

// A helper thread that waits for a dialog to show, stores it in *dialog, then
// presses button (IDOK, IDCANCEL) on it.
std::thread Press(int button, HWND* dialog) {
  return std::thread([=] {
    for (DWORD start = GetTickCount(); !*dialog && GetTickCount() - start < kTimeoutMs;) {
      Sleep(kTickMs);
      HWND found = FindWindowA("#32770", NULL);
      if (found != NULL && IsWindowVisible(found)) *dialog = found;
    }
    if (*dialog) PostMessageA(*dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  });
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWindows();
    // Blue with a green top row: the picture must paint it the right way up.
    std::vector<uint8_t> banner = window_test::MakeBitmap(253, 34, 0x3366CC, 0x00FF00);
    ASSERT_NE(ImageFromMemory(0, banner.data(), (int32_t)banner.size()), 0);
  }
  void TearDown() override { EndWindows(); }
  // The stub's window: hidden by the invisible flag until shown.
  void OpenStub() {
    ASSERT_EQ(window_test::OpenLayout(false), 1);
    EXPECT_FALSE(IsWindowVisible((HWND)WindowHandleOf(0)));
    EXPECT_EQ(ShowOrHideWindow(0, 0), 1);
    EXPECT_TRUE(IsWindowVisible((HWND)WindowHandleOf(0)));
    Pump(100);
  }
};

TEST_F(Win32WindowTest, MakerWindowHasItsClientAreaCornerAndBanner) {
  ASSERT_EQ(window_test::OpenLayout(true), 1);
  HWND window = (HWND)WindowHandleOf(0);
  RECT client, outer, picture;
  GetClientRect(window, &client);
  GetWindowRect(window, &outer);
  EXPECT_EQ(client.right - client.left, 253);
  EXPECT_EQ(client.bottom - client.top, 161);
  EXPECT_EQ(outer.left, 405);
  EXPECT_EQ(outer.top, 334);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & WS_SYSMENU, 0) << "no system menu";
  // The 253 x 34 picture keeps its size and paints the image (DrawStateA).
  GetClientRect(Gadget(1), &picture);
  EXPECT_EQ(picture.right, 253);
  EXPECT_EQ(picture.bottom, 34);
  UpdateWindow(window);
  HDC dc = GetDC(Gadget(1));
  EXPECT_EQ(GetPixel(dc, 100, 0), RGB(0, 0xFF, 0));
  EXPECT_EQ(GetPixel(dc, 100, 20), RGB(0x33, 0x66, 0xCC));
  ReleaseDC(Gadget(1), dc);
}

TEST_F(Win32WindowTest, ClicksGiveGadgetEventsAndCloseLeavesTheWindowOpen) {
  OpenStub();
  PostMessageA(Gadget(7), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForGadget(7));
  EXPECT_EQ(LastEventType(), 0);
  // Sent from another thread, the notification arrives inside the wait.
  std::thread clicker([] { SendMessageA(Gadget(4), BM_CLICK, 0, 0); });
  EXPECT_TRUE(WaitForGadget(4));
  clicker.join();
  HWND window = (HWND)WindowHandleOf(0);
  for (int i = 0; i < 3; i++) SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(WaitForEvent(), kEventCloseWindow);
  for (int32_t code : Pump(100)) EXPECT_NE(code, kEventCloseWindow) << "equal events: one";
}

TEST_F(Win32WindowTest, TabFollowsCreationOrderAndSkipsDisabledGadgets) {
  OpenStub();
  SetForegroundWindow((HWND)WindowHandleOf(0));
  SetFocus(Gadget(1));
  SetGadgetDisabled(7, 1);
  std::vector<int> order;
  for (int i = 0; i < 4; i++) {
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    Pump(60);
    order.push_back(GetDlgCtrlID(GetFocus()));
  }
  EXPECT_EQ(order, (std::vector<int>{4, 6, 8, 1}));
}

TEST_F(Win32WindowTest, WorkerThreadOperationsCompleteWhileTheWindowThreadWaits) {
  OpenStub();
  std::string label;
  LRESULT position = -1;
  int32_t button = -1;
  std::thread worker([&] {
    PutGadgetText(3, "Extracting files...");
    PutGadgetValue(5, 42);
    label = S(ReadGadgetText(3));
    position = SendMessageA(Gadget(5), PBM_GETPOS, 0, 0);
    HWND box = NULL;
    std::thread presser = Press(IDOK, &box);
    button = ShowMessage("4", "The files were extracted successfully!", kMessageInformation);
    presser.join();
    PostMessageA(Gadget(8), BM_CLICK, 0, 0);
  });
  EXPECT_TRUE(WaitForGadget(8));
  worker.join();
  EXPECT_EQ(label, "Extracting files...");
  EXPECT_EQ(position, 42);
  EXPECT_EQ(button, IDOK);
}

TEST_F(Win32WindowTest, RequestersGiveEmptyTextOnCancel) {
  OpenStub();
  const std::pair<const char*, Text (*)()> requesters[] = {
      {"folder", [] { return AskForFolder("Choose the destination path please", ""); }},
      {"folder, initial path beyond 260 bytes",
       [] { return AskForFolder("t", std::string(600, 'a').c_str()); }},
      {"save file",
       [] { return AskForSaveFile("Please choose file to save", "", "Exe|*.exe", 0); }},
  };
  for (const auto& r : requesters) {
    HWND dialog = NULL;
    std::thread presser = Press(IDCANCEL, &dialog);
    EXPECT_EQ(S(r.second()), "") << r.first;
    presser.join();
    EXPECT_NE(dialog, (HWND)NULL) << r.first << ": no dialog appeared";
  }
}

TEST_F(Win32WindowTest, EndWindowsDestroysWindowsClassesAndImages) {
  OpenStub();
  HWND window = (HWND)WindowHandleOf(0);
  HBITMAP image = (HBITMAP)ImageHandleOf(0);
  EndWindows();
  EXPECT_FALSE(IsWindow(window));
  WNDCLASSA unused;
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(NULL), "VezovudWindow0", &unused));
  EXPECT_EQ(GetObjectType(image), 0u);
  EXPECT_EQ(PutGadgetText(1, "x"), 0) << "numbers not in use do nothing";
  EXPECT_EQ(WindowHandleOf(0), 0);
}

}  // namespace
