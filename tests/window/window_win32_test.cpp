// The Win32 window layer on the programs' own windows under Wine: geometry and gadgets as each
// table gives them, the picture, Tab order, the requesters (a helper thread presses Cancel) and
// clean-up. Clicks and runs through the real windows: stub_e2e.py.
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "extractor/stub_flow.h"
#include "maker/maker_window.h"
#include "runtime/window.h"
#include "support/handshake.h"
#include "window/test_bitmap.h"

namespace {

const UINT kTickMs = 20;

std::string S(const Text& t) { return std::string(t.c_str(), t.Length()); }

// The control class the layer makes for each gadget kind.
const std::map<int32_t, std::string> kClassOfKind = {{kGadgetButton, "Button"},
                                                     {kGadgetTextField, "Edit"},
                                                     {kGadgetLabel, "Static"},
                                                     {kGadgetPicture, "Static"},
                                                     {kGadgetProgressBar, PROGRESS_CLASSA}};

// The window's place, caption without system menu, and table's gadgets (a picture: its image's).
void ExpectLayout(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                  const GadgetSpec* table, int32_t count) {
  HWND window = (HWND)WindowHandleOf(number);
  RECT client, outer;
  GetClientRect(window, &client);
  GetWindowRect(window, &outer);
  EXPECT_EQ(width, client.right - client.left);
  EXPECT_EQ(height, client.bottom - client.top);
  EXPECT_EQ(x, outer.left);
  EXPECT_EQ(y, outer.top);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & WS_SYSMENU, 0) << "no system menu";
  for (int32_t i = 0; i < count; i++) {
    const GadgetSpec& g = table[i];
    HWND control = GetDlgItem(window, g.number);
    ASSERT_NE((HWND)NULL, control) << "gadget " << g.number;
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(NULL, window, (POINT*)&place, 2);
    char name[64] = {0};
    GetClassNameA(control, name, sizeof(name));
    EXPECT_EQ(kClassOfKind.at(g.kind), name) << "gadget " << g.number;
    EXPECT_EQ(g.x, place.left) << "gadget " << g.number;
    EXPECT_EQ(g.y, place.top) << "gadget " << g.number;
    if (g.kind != kGadgetPicture) {
      EXPECT_EQ(g.width, place.right - place.left) << "gadget " << g.number;
      EXPECT_EQ(g.height, place.bottom - place.top) << "gadget " << g.number;
    }
    if (g.text != nullptr) {
      EXPECT_EQ(g.text, S(ReadGadgetText(g.number))) << g.number;
    }
  }
}

// Serves the event wait for ms (a thread timer keeps it returning).
void Pump(DWORD ms) {
  UINT_PTR timer = SetTimer(NULL, 0, kTickMs, NULL);
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) WaitForEvent();
  KillTimer(NULL, timer);
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { InitWindows(); }
  void TearDown() override { EndWindows(); }
  // The stub's window, shown once start-up is done.
  void OpenStub() {
    StartStub(banner_.data(), (int32_t)banner_.size());
    ASSERT_NE(0, WindowHandleOf(kStubWindowNumber));
    EXPECT_TRUE(IsWindowVisible((HWND)WindowHandleOf(kStubWindowNumber)));
    Pump(100);
  }
  // Blue with a green top row: the picture must paint it the right way up.
  std::vector<uint8_t> banner_ = window_test::MakeBitmap(253, 34, 0x3366CC, 0x00FF00);
};

// Each window follows its table; the Maker's picture takes the image's size, right way up.
TEST_F(Win32WindowTest, WindowsFollowTheirTablesAndPaintTheBanner) {
  OpenStub();
  ExpectLayout(kStubWindowNumber, kStubWindowX, kStubWindowY, kStubClientWidth, kStubClientHeight,
               kStubGadgets, kStubGadgetCount);
  EndWindows();
  InitWindows();
  ASSERT_EQ(1, OpenMakerWindow(banner_.data(), (int32_t)banner_.size()));
  ExpectLayout(kMakerWindowNumber, kMakerWindowX, kMakerWindowY, kMakerClientWidth,
               kMakerClientHeight, kMakerGadgets, kMakerGadgetCount);
  HWND window = (HWND)WindowHandleOf(kMakerWindowNumber), picture = NULL;
  EXPECT_TRUE(IsWindowVisible(window));
  for (const GadgetSpec& g : kMakerGadgets)
    if (g.kind == kGadgetPicture) picture = GetDlgItem(window, g.number);
  ASSERT_NE((HWND)NULL, picture);
  RECT size;
  GetClientRect(picture, &size);
  EXPECT_EQ(253, size.right);
  EXPECT_EQ(34, size.bottom);
  UpdateWindow(window);
  HDC dc = GetDC(picture);
  EXPECT_EQ(GetPixel(dc, 100, 0), RGB(0, 0xFF, 0));
  EXPECT_EQ(GetPixel(dc, 100, 20), RGB(0x33, 0x66, 0xCC));
  ReleaseDC(picture, dc);
}

TEST_F(Win32WindowTest, TabFollowsCreationOrderAndSkipsDisabledGadgets) {
  OpenStub();
  SetForegroundWindow((HWND)WindowHandleOf(kStubWindowNumber));
  SetFocus(GetDlgItem((HWND)WindowHandleOf(kStubWindowNumber), kGadgetDestinationField));
  SetGadgetDisabled(kGadgetExtract, 1);
  std::vector<int> order;
  for (int i = 0; i < 4; i++) {
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    Pump(60);
    order.push_back(GetDlgCtrlID(GetFocus()));
  }
  EXPECT_EQ(order,
            (std::vector<int>{kGadgetBrowse, kGadgetExit, kGadgetAbout, kGadgetDestinationField}));
}

TEST_F(Win32WindowTest, RequestersGiveEmptyTextOnCancel) {
  OpenStub();
  const std::pair<const char*, Text (*)()> requesters[] = {
      {"folder", [] { return AskForFolder("Choose the destination path please", ""); }},
      {"folder, initial path beyond 260 bytes",
       [] { return AskForFolder("t", std::string(600, 'a').c_str()); }},
      {"save file", [] { return AskForSaveFile("Please choose file to save", "Exe|*.exe"); }},
  };
  for (const auto& r : requesters) {
    HWND dialog = NULL;
    // Waits for the dialog and presses Cancel on it. Without a dialog the requester would never
    // return, so a missed bound ends the test program.
    std::thread presser([&dialog, &r] {
      bool seen = handshake::WaitUntil([&] {
        HWND found = FindWindowA("#32770", NULL);
        if (found != NULL && IsWindowVisible(found)) dialog = found;
        return dialog != NULL;
      });
      if (!seen) handshake::FailNow(r.first);
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    EXPECT_EQ(S(r.second()), "") << r.first;
    presser.join();
  }
}

TEST_F(Win32WindowTest, EndWindowsDestroysWindowsClassesAndImages) {
  OpenStub();
  HWND window = (HWND)WindowHandleOf(kStubWindowNumber);
  HBITMAP image = (HBITMAP)ImageHandleOf(kStubBannerImage);
  EndWindows();
  EXPECT_FALSE(IsWindow(window));
  WNDCLASSA unused;
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(NULL), "VezovudWindow0", &unused));
  EXPECT_EQ(GetObjectType(image), 0u);
  EXPECT_EQ(PutGadgetText(kGadgetDestinationField, "x"), 0) << "numbers not in use do nothing";
  EXPECT_EQ(WindowHandleOf(kStubWindowNumber), 0);
}

}  // namespace
