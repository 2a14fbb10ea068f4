// Tests of the Win32 window layer, run under Wine with Xvfb: window geometry
// and style, the five gadget kinds, images, the event wait, Tab order,
// gadget operations from worker threads, the requesters and clean-up.
// Helper threads play the user: they click, and press the dialogs' buttons.
#include <windows.h>
#include <commctrl.h>

#include <string.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/window.h"
#include "window/bitmap_maker.h"

namespace {

using window_test::MakeBitmap;
using window_test::MakeSolidBitmap;

const DWORD kTestTimeoutMs = 5000;
const UINT kTickMs = 20;

std::string S(const Text& t) { return std::string(t.c_str(), t.Length()); }

std::string WindowText(HWND window) {
  char buffer[512] = {0};
  GetWindowTextA(window, buffer, sizeof(buffer));
  return buffer;
}

std::string ClassOf(HWND window) {
  char buffer[64] = {0};
  GetClassNameA(window, buffer, sizeof(buffer));
  return buffer;
}

HWND Gadget(int number) { return GetDlgItem((HWND)WindowHandleOf(0), number); }

// Runs the event wait until a gadget event for gadget arrives (true) or the
// time is up (false). A thread timer keeps the wait returning.
bool WaitForGadget(int32_t gadget, DWORD timeoutMs = kTestTimeoutMs) {
  UINT_PTR timer = SetTimer(NULL, 0, kTickMs, NULL);
  DWORD start = GetTickCount();
  bool found = false;
  while (!found && GetTickCount() - start < timeoutMs) {
    if (WaitForEvent() == kEventGadget && LastEventGadget() == gadget) found = true;
  }
  KillTimer(NULL, timer);
  return found;
}

// Like WaitForGadget, for a gadget event of the given type.
bool WaitForGadgetType(int32_t gadget, int32_t type, DWORD timeoutMs = kTestTimeoutMs) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (!WaitForGadget(gadget, timeoutMs - (GetTickCount() - start))) return false;
    if (LastEventType() == type) return true;
  }
  return false;
}

// Serves the event wait for ms and returns every code it gave.
std::vector<int32_t> DrainEvents(DWORD ms) {
  std::vector<int32_t> codes;
  UINT_PTR timer = SetTimer(NULL, 0, kTickMs, NULL);
  DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) codes.push_back(WaitForEvent());
  KillTimer(NULL, timer);
  return codes;
}

BOOL CALLBACK RememberDialog(HWND window, LPARAM data) {
  char name[16] = {0};
  GetClassNameA(window, name, sizeof(name));
  if (strcmp(name, "#32770") == 0 && IsWindowVisible(window)) {
    *(HWND*)data = window;
    return FALSE;
  }
  return TRUE;
}

// Finds a visible dialog (#32770) of thread, waiting up to the test timeout.
HWND FindDialogOf(DWORD thread) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < kTestTimeoutMs) {
    HWND found = NULL;
    EnumThreadWindows(thread, RememberDialog, (LPARAM)&found);
    if (found != NULL) return found;
    Sleep(kTickMs);
  }
  return NULL;
}

// A helper thread that waits for thread's dialog, lets check look at it,
// then presses button (IDOK, IDCANCEL) on it.
class DialogPresser {
 public:
  DialogPresser(DWORD thread, int button, std::function<void(HWND)> check = nullptr)
      : worker_([this, thread, button, check] {
          HWND dialog = FindDialogOf(thread);
          found_ = dialog != NULL;
          if (dialog == NULL) return;
          if (check) check(dialog);
          PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }) {}
  ~DialogPresser() {
    if (worker_.joinable()) worker_.join();
  }
  // Whether the dialog appeared; waits for the helper to finish.
  bool Found() {
    if (worker_.joinable()) worker_.join();
    return found_;
  }

 private:
  std::atomic<bool> found_{false};
  std::thread worker_;
};

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { InitWindows(); }
  void TearDown() override { EndWindows(); }

  // The Extractor's layout, shown: window 0 with gadgets 1 to 8.
  void OpenStubLayout() {
    std::vector<uint8_t> banner = MakeSolidBitmap(253, 34, 0xFF8000);
    ASSERT_NE(ImageFromMemory(0, banner.data(), (int32_t)banner.size()), 0);
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
    ShowOrHideWindow(0, 0);
    DrainEvents(100);
  }
};

TEST_F(Win32WindowTest, MakerWindowHasItsClientAreaTitleBarAndCorner) {
  HWND window = (HWND)OpenWindowByNumber(0, 405, 334, 253, 161, "Vezovud v1.0", 0xC00000);
  ASSERT_NE(window, (HWND)NULL);
  EXPECT_EQ(WindowHandleOf(0), (intptr_t)window);
  EXPECT_EQ(WindowText(window), "Vezovud v1.0");
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right - client.left, 253);
  EXPECT_EQ(client.bottom - client.top, 161);
  RECT outer;
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.left, 405);
  EXPECT_EQ(outer.top, 334);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & WS_SYSMENU, 0) << "no close box";
  EXPECT_EQ(style & WS_THICKFRAME, 0) << "no sizing border";
  EXPECT_TRUE(IsWindowVisible(window));
  // The class of window number 0: double clicks, arrow, button-face colour.
  EXPECT_EQ(GetClassLongPtrA(window, GCLP_HBRBACKGROUND), (ULONG_PTR)(COLOR_BTNFACE + 1));
  EXPECT_EQ(GetClassLongA(window, GCL_STYLE) & CS_DBLCLKS, (DWORD)CS_DBLCLKS);
  EXPECT_EQ((HCURSOR)GetClassLongPtrA(window, GCLP_HCURSOR), LoadCursorA(NULL, (LPCSTR)IDC_ARROW));
}

TEST_F(Win32WindowTest, FlagsWithoutStylesGetTheTitleBar) {
  HWND window = (HWND)OpenWindowByNumber(3, 10, 20, 200, 80, "plain", 0);
  ASSERT_NE(window, (HWND)NULL);
  EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
  RECT client;
  GetClientRect(window, &client);
  // (Wider than the smallest width the system allows a captioned window.)
  EXPECT_EQ(client.right, 200);
  EXPECT_EQ(client.bottom, 80);
}

TEST_F(Win32WindowTest, InvisibleFlagHidesUntilShown) {
  HWND window = (HWND)OpenWindowByNumber(0, 405, 334, 253, 125, "Vezovud Archive", 0x10C00000);
  ASSERT_NE(window, (HWND)NULL);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(ShowOrHideWindow(0, 0), 1);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(ShowOrHideWindow(0, 1), 1);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(ShowOrHideWindow(1, 0), 0);  // no window 1
}

TEST_F(Win32WindowTest, GadgetsHaveTheirClassStyleIdentifierAndFont) {
  OpenStubLayout();
  struct Expected { int number; const char* className; DWORD style; DWORD exStyle; };
  const Expected table[] = {
      {1, "Edit", 0x50030080, WS_EX_CLIENTEDGE},
      {2, "Static", 0x50000100, 0},
      {3, "Static", 0x50020000, 0},
      {4, "Button", 0x50030000, 0},
      {5, "msctls_progress32", 0x50000000, 0},
  };
  HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
  for (const Expected& e : table) {
    HWND control = Gadget(e.number);
    ASSERT_NE(control, (HWND)NULL) << e.number;
    EXPECT_EQ(GetDlgCtrlID(control), e.number);
    EXPECT_STRCASEEQ(ClassOf(control).c_str(), e.className) << e.number;
    // Styles the control adds for itself (such as a focus state) are not
    // ours to check; each bit we asked for must be there.
    EXPECT_EQ((DWORD)GetWindowLongA(control, GWL_STYLE) & e.style, e.style) << e.number;
    EXPECT_EQ((DWORD)GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, e.exStyle)
        << e.number;
    EXPECT_EQ((HFONT)SendMessageA(control, WM_GETFONT, 0, 0), font) << e.number;
  }
  EXPECT_EQ(WindowText(Gadget(3)), "Choose your destination directory:");
  EXPECT_EQ(WindowText(Gadget(7)), "Extract");
  RECT r;
  GetWindowRect(Gadget(7), &r);
  MapWindowPoints(NULL, (HWND)WindowHandleOf(0), (POINT*)&r, 2);
  EXPECT_EQ(r.left, 180);
  EXPECT_EQ(r.top, 100);
  EXPECT_EQ(r.right - r.left, 70);
  EXPECT_EQ(r.bottom - r.top, 20);
  EXPECT_EQ(SendMessageA(Gadget(5), PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageA(Gadget(5), PBM_GETRANGE, FALSE, 0), 100);
}

TEST_F(Win32WindowTest, ImageHoldsTheFilesPixelsAt32Bits) {
  // Left half red, right half blue, top row green: orientation and colours.
  std::vector<uint8_t> bmp = MakeBitmap(20, 10, [](int x, int y) -> uint32_t {
    if (y == 0) return 0x00FF00;
    return x < 10 ? 0xFF0000 : 0x0000FF;
  });
  HBITMAP bitmap = (HBITMAP)ImageFromMemory(2, bmp.data(), (int32_t)bmp.size());
  ASSERT_NE(bitmap, (HBITMAP)NULL);
  EXPECT_EQ(ImageHandleOf(2), (intptr_t)bitmap);
  DIBSECTION section;
  ASSERT_EQ(GetObjectA(bitmap, sizeof(section), &section), (int)sizeof(section));
  EXPECT_EQ(section.dsBm.bmWidth, 20);
  EXPECT_EQ(section.dsBm.bmHeight, 10);
  EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
  // Bottom-up 32-bit pixels, BGRX.
  const uint32_t* pixels = (const uint32_t*)section.dsBm.bmBits;
  auto at = [&](int x, int y) { return pixels[(9 - y) * 20 + x] & 0xFFFFFF; };
  EXPECT_EQ(at(0, 0), 0x00FF00u);
  EXPECT_EQ(at(3, 5), 0xFF0000u);
  EXPECT_EQ(at(15, 9), 0x0000FFu);
  // Damaged data is refused and leaves the image as it was.
  bmp.resize(bmp.size() - 1);
  EXPECT_EQ(ImageFromMemory(2, bmp.data(), (int32_t)bmp.size()), 0);
  EXPECT_EQ(ImageHandleOf(2), (intptr_t)bitmap);
}

TEST_F(Win32WindowTest, PictureKeepsTheBannerSizeAndGrowsForALargerImage) {
  ASSERT_NE(OpenWindowByNumber(0, 405, 334, 400, 200, "pictures", 0xC00000), 0);
  ASSERT_NE(BeginGadgets(WindowHandleOf(0)), 0);
  std::vector<uint8_t> banner = MakeSolidBitmap(253, 34, 0x3366CC);
  std::vector<uint8_t> large = MakeSolidBitmap(300, 50, 0xCC6633);
  ASSERT_NE(ImageFromMemory(0, banner.data(), (int32_t)banner.size()), 0);
  ASSERT_NE(ImageFromMemory(1, large.data(), (int32_t)large.size()), 0);
  HWND first = (HWND)AddPicture(1, 0, 0, 253, 34, ImageHandleOf(0));
  HWND second = (HWND)AddPicture(2, 0, 40, 253, 34, ImageHandleOf(1));
  ASSERT_NE(first, (HWND)NULL);
  ASSERT_NE(second, (HWND)NULL);
  RECT r;
  GetClientRect(first, &r);
  EXPECT_EQ(r.right, 253);
  EXPECT_EQ(r.bottom, 34);
  GetClientRect(second, &r);
  EXPECT_EQ(r.right, 300);
  EXPECT_EQ(r.bottom, 50);
  // The picture paints the bitmap (DrawStateA) at its top-left corner.
  UpdateWindow((HWND)WindowHandleOf(0));
  HDC dc = GetDC(first);
  COLORREF painted = GetPixel(dc, 100, 20);
  ReleaseDC(first, dc);
  EXPECT_EQ(painted, RGB(0x33, 0x66, 0xCC));
  // Image 0 replaced: the picture shows the new bitmap at its size, and the
  // old bitmap is gone.
  HBITMAP old = (HBITMAP)ImageHandleOf(0);
  std::vector<uint8_t> small = MakeSolidBitmap(100, 20, 0x00FF00);
  ASSERT_NE(ImageFromMemory(0, small.data(), (int32_t)small.size()), 0);
  EXPECT_EQ(GetObjectType(old), 0u);
  GetClientRect(first, &r);
  EXPECT_EQ(r.right, 100);
  EXPECT_EQ(r.bottom, 20);
  UpdateWindow((HWND)WindowHandleOf(0));
  dc = GetDC(first);
  painted = GetPixel(dc, 50, 10);
  ReleaseDC(first, dc);
  EXPECT_EQ(painted, RGB(0, 0xFF, 0));
}

TEST_F(Win32WindowTest, ButtonClickGivesGadgetEvent13100) {
  OpenStubLayout();
  // Posted to the window thread's own queue.
  PostMessageA(Gadget(7), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForGadget(7));
  EXPECT_EQ(LastEventType(), 0);
  EXPECT_EQ(LastEventWindow(), 0);
  // Sent from another thread: the notification arrives inside GetMessageA,
  // and the wait must still return it.
  std::thread clicker([] {
    Sleep(100);
    SendMessageA(Gadget(4), BM_CLICK, 0, 0);
  });
  DWORD start = GetTickCount();
  int32_t code = 0;
  while (code != kEventGadget && GetTickCount() - start < kTestTimeoutMs) code = WaitForEvent();
  clicker.join();
  EXPECT_EQ(code, kEventGadget);
  EXPECT_EQ(LastEventGadget(), 4);
}

TEST_F(Win32WindowTest, TypingInTheTextFieldGivesItsGadgetEvents) {
  OpenStubLayout();
  SetFocus(Gadget(1));
  EXPECT_TRUE(WaitForGadgetType(1, kEventTypeFocus));
  PostMessageA(Gadget(1), WM_CHAR, 'C', 0);
  EXPECT_TRUE(WaitForGadgetType(1, kEventTypeTextChanged));
  EXPECT_EQ(S(ReadGadgetText(1)), "C");
  SetFocus(Gadget(4));
  EXPECT_TRUE(WaitForGadgetType(1, kEventTypeFocusLost));
}

TEST_F(Win32WindowTest, CloseRequestLeavesTheWindowOpenAndIsQueuedOnce) {
  OpenStubLayout();
  HWND window = (HWND)WindowHandleOf(0);
  SendMessageA(window, WM_CLOSE, 0, 0);
  SendMessageA(window, WM_CLOSE, 0, 0);
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(window));
  // Three equal requests in a row make one queued event.
  EXPECT_EQ(WaitForEvent(), kEventCloseWindow);
  EXPECT_EQ(LastEventWindow(), 0);
  std::vector<int32_t> rest = DrainEvents(100);
  for (int32_t code : rest) EXPECT_NE(code, kEventCloseWindow);
  PostMessageA(window, WM_CLOSE, 0, 0);
  std::vector<int32_t> later = DrainEvents(100);
  EXPECT_NE(std::find(later.begin(), later.end(), kEventCloseWindow), later.end());
  EXPECT_TRUE(IsWindow(window));
}

TEST_F(Win32WindowTest, TabAndShiftTabFollowCreationOrder) {
  OpenStubLayout();
  HWND window = (HWND)WindowHandleOf(0);
  SetFocus(Gadget(1));
  std::vector<int> order;
  for (int i = 0; i < 5; i++) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(1212, 1), 0);
    DrainEvents(40);
    order.push_back(GetDlgCtrlID(GetFocus()));
  }
  EXPECT_EQ(order, (std::vector<int>{4, 6, 7, 8, 1}));
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(1213, 1), 0);
  DrainEvents(40);
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), 8);
  // A disabled gadget is skipped.
  SetGadgetDisabled(7, 1);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(1213, 1), 0);
  DrainEvents(40);
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), 6);
  // The Tab key itself goes through the window's accelerator table.
  SetForegroundWindow(window);
  SetFocus(Gadget(1));
  PostMessageA(Gadget(1), WM_KEYDOWN, VK_TAB, 0);
  DrainEvents(60);
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), 4);
}

TEST_F(Win32WindowTest, WorkerThreadGadgetOperationsCompleteWhileTheWindowThreadWaits) {
  OpenStubLayout();
  PutGadgetText(1, "C:\\dest\\");
  std::string readByWorker;
  LRESULT positionSeenByWorker = -1;
  std::string labelSeenByWorker;
  std::thread worker([&] {
    PutGadgetText(3, "Extracting files...");
    labelSeenByWorker = WindowText(Gadget(3));
    PutGadgetValue(5, 42);
    positionSeenByWorker = SendMessageA(Gadget(5), PBM_GETPOS, 0, 0);
    readByWorker = S(ReadGadgetText(1));
    SetGadgetDisabled(6, 1);
    PostMessageA(Gadget(8), BM_CLICK, 0, 0);  // "done"
  });
  ASSERT_TRUE(WaitForGadget(8));
  worker.join();
  EXPECT_EQ(labelSeenByWorker, "Extracting files...");
  EXPECT_EQ(positionSeenByWorker, 42);
  EXPECT_EQ(readByWorker, "C:\\dest\\");
  EXPECT_EQ(WindowText(Gadget(3)), "Extracting files...");
  EXPECT_EQ(SendMessageA(Gadget(5), PBM_GETPOS, 0, 0), 42);
  EXPECT_FALSE(IsWindowEnabled(Gadget(6)));
  EXPECT_EQ(SetGadgetDisabled(6, 0), 1);
  EXPECT_TRUE(IsWindowEnabled(Gadget(6)));
}

TEST_F(Win32WindowTest, WorkerThreadMessageBoxReturnsTheButton) {
  OpenStubLayout();
  std::atomic<int32_t> result{-1};
  std::atomic<DWORD> workerThread{0};
  std::thread worker([&] {
    workerThread = GetCurrentThreadId();
    result = ShowMessage("4", "The files were extracted successfully!", kMessageInformation);
    PostMessageA(Gadget(8), BM_CLICK, 0, 0);
  });
  while (workerThread == 0) Sleep(1);
  std::string caption, text;
  DialogPresser presser(workerThread, IDOK, [&](HWND box) { caption = WindowText(box); });
  ASSERT_TRUE(WaitForGadget(8));
  worker.join();
  EXPECT_TRUE(presser.Found());
  EXPECT_EQ(caption, "4");
  EXPECT_EQ(result, IDOK);
}

TEST_F(Win32WindowTest, MessageBoxOnTheWindowThreadDisablesTheOtherWindows) {
  OpenStubLayout();
  HWND main = (HWND)WindowHandleOf(0);
  HWND other = (HWND)OpenWindowByNumber(1, 10, 10, 100, 40, "other", 0xC00000);
  ASSERT_NE(other, (HWND)NULL);
  SetForegroundWindow(main);
  DrainEvents(60);
  ASSERT_EQ(GetForegroundWindow(), main);
  bool otherDisabled = false, mainDisabled = false;
  HWND owner = NULL;
  DialogPresser presser(GetCurrentThreadId(), IDOK, [&](HWND box) {
    otherDisabled = !IsWindowEnabled(other);
    mainDisabled = !IsWindowEnabled(main);
    owner = GetWindow(box, GW_OWNER);
  });
  EXPECT_EQ(ShowMessage("About Vezovud", "Vezovud v1.1\n\r\n\rDescription", 64), IDOK);
  EXPECT_TRUE(presser.Found());
  EXPECT_TRUE(otherDisabled) << "a window other than the owner is disabled";
  EXPECT_TRUE(mainDisabled) << "the owner is disabled by the box itself";
  EXPECT_EQ(owner, main);
  EXPECT_TRUE(IsWindowEnabled(other));
  EXPECT_TRUE(IsWindowEnabled(main));
}

TEST_F(Win32WindowTest, FolderChooserGivesEmptyTextOnCancel) {
  OpenStubLayout();
  DialogPresser presser(GetCurrentThreadId(), IDCANCEL);
  EXPECT_EQ(S(AskForFolder("Choose the destination path please", "")), "");
  EXPECT_TRUE(presser.Found());
  EXPECT_TRUE(IsWindowEnabled((HWND)WindowHandleOf(0)));
}

TEST_F(Win32WindowTest, FolderChooserStartsAtTheInitialPathAndAppendsTheBackslash) {
  OpenStubLayout();
  char windowsFolder[MAX_PATH] = {0};
  GetWindowsDirectoryA(windowsFolder, sizeof(windowsFolder));
  // The initial path's own final "\" is taken off before selecting it.
  std::string initial = std::string(windowsFolder) + "\\";
  {
    DialogPresser presser(GetCurrentThreadId(), IDOK);
    EXPECT_EQ(S(AskForFolder("Choose a path please", initial.c_str())), initial);
    EXPECT_TRUE(presser.Found());
  }
  {
    // A drive root keeps its single "\".
    DialogPresser presser(GetCurrentThreadId(), IDOK);
    EXPECT_EQ(S(AskForFolder("Choose a path please", "C:\\")), "C:\\");
    EXPECT_TRUE(presser.Found());
  }
  {
    // A path too long for the 260-byte buffer opens the chooser unselected.
    DialogPresser presser(GetCurrentThreadId(), IDCANCEL);
    EXPECT_EQ(S(AskForFolder("t", std::string(600, 'a').c_str())), "");
    EXPECT_TRUE(presser.Found());
  }
}

TEST_F(Win32WindowTest, SaveFileChooserGivesEmptyTextOnCancel) {
  OpenStubLayout();
  std::string title;
  DialogPresser presser(GetCurrentThreadId(), IDCANCEL, [&](HWND d) { title = WindowText(d); });
  EXPECT_EQ(S(AskForSaveFile("Please choose file to save", "", "Executable files (*.exe)|*.exe", 0)),
            "");
  EXPECT_TRUE(presser.Found());
  EXPECT_EQ(title, "Please choose file to save");
}

TEST_F(Win32WindowTest, SaveFileChooserReturnsTheTypedNameWithoutExtension) {
  OpenStubLayout();
  char temp[MAX_PATH] = {0};
  GetTempPathA(sizeof(temp), temp);
  std::string typed = std::string(temp) + "result";
  DialogPresser presser(GetCurrentThreadId(), IDOK, [&](HWND d) {
    // The file-name box of the explorer-style dialog (cmb13, or edt1).
    if (!SetDlgItemTextA(d, 0x47C, typed.c_str())) SetDlgItemTextA(d, 0x480, typed.c_str());
  });
  Text chosen = AskForSaveFile("Please choose file to save", "ignored\\bad?name",
                               "Executable files (*.exe)|*.exe", 0);
  EXPECT_TRUE(presser.Found());
  EXPECT_STRCASEEQ(S(chosen).c_str(), typed.c_str());
}

TEST_F(Win32WindowTest, NumbersNotInUseDoNothing) {
  EXPECT_EQ(WindowHandleOf(0), 0);
  EXPECT_EQ(PutGadgetText(5, "x"), 0);
  EXPECT_EQ(PutGadgetValue(5, 1), 0);
  EXPECT_EQ(SetGadgetDisabled(5, 1), 0);
  EXPECT_EQ(S(ReadGadgetText(5)), "");
  EXPECT_EQ(ImageHandleOf(0), 0);
  EXPECT_EQ(AddButton(0, 0, 0, 10, 10, "no window"), 0);
  EXPECT_EQ(BeginGadgets((intptr_t)GetDesktopWindow()), 0);
  EXPECT_EQ(OpenWindowByNumber(kMaxWindowNumber + 1, 0, 0, 10, 10, "x", 0), 0);
  EXPECT_EQ(OpenWindowByNumber(-1, 0, 0, 10, 10, "x", 0), 0);
}

TEST_F(Win32WindowTest, EndWindowsDestroysWindowsClassesAndImages) {
  OpenStubLayout();
  HWND window = (HWND)WindowHandleOf(0);
  HWND field = Gadget(1);
  HBITMAP image = (HBITMAP)ImageHandleOf(0);
  EndWindows();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(IsWindow(field));
  WNDCLASSA unused;
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(NULL), "VezovudWindow0", &unused));
  EXPECT_EQ(GetObjectType(image), 0u);
  EXPECT_EQ(WindowHandleOf(0), 0);
  EXPECT_EQ(PutGadgetText(1, "x"), 0);
  // The layer can start again after its end.
  InitWindows();
  EXPECT_NE(OpenWindowByNumber(0, 1, 1, 10, 10, "again", 0), 0);
}

TEST_F(Win32WindowTest, EndWindowsFromAWorkerThreadDestroysTheWindow) {
  OpenStubLayout();
  HWND window = (HWND)WindowHandleOf(0);
  std::atomic<bool> done{false};
  std::thread ender([&] {
    EndWindows();
    done = true;
  });
  DWORD start = GetTickCount();
  UINT_PTR timer = SetTimer(NULL, 0, kTickMs, NULL);
  while (!done && GetTickCount() - start < kTestTimeoutMs) WaitForEvent();
  KillTimer(NULL, timer);
  ender.join();
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
