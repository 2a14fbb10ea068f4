// Win32 back end of the window layer: windows, gadgets and images in three
// numbered tables, one event record with a queue of window events, the
// message box and the folder chooser (the save-file chooser has a file of its
// own, window_save_win32.cpp). The window thread owns the tables; worker
// threads reach the gadgets only through messages that the window thread serves.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/window.h"
#include "runtime/window_bitmap.h"
#include "runtime/window_modal_win32.h"

namespace {

const int kWindowSlots = kMaxWindowNumber + 1;
const int kGadgetSlots = kMaxGadgetNumber + 1;
const int kImageSlots = kMaxImageNumber + 1;
const int kEventQueueSlots = 64;
const int kClassNameBytes = 32;
const int kFolderPathBytes = 260;  // MAX_PATH, the terminating zero included
const int kPictureClientEdgePixels = 4;
const WORD kCommandTab = 1212;
const WORD kCommandShiftTab = 1213;
const DWORD kDestroyTimeoutMs = 2000;

const DWORD kButtonStyle = 0x50030000;       // child, visible, tab stop, group
const DWORD kTextFieldStyle = 0x50030080;    // the same plus ES_AUTOHSCROLL
const DWORD kLabelStyle = 0x50020000;        // child, visible, group
const DWORD kPictureStyle = 0x50000100;      // child, visible, SS_NOTIFY
const DWORD kProgressBarStyle = 0x50000000;  // child, visible

// Private messages. A gadget posts kMessageGadgetEvent to its window
// (wParam = gadget number, lParam = event type); kMessageWake only wakes the
// window thread's GetMessageA; kMessageDestroySelf asks a window to destroy
// itself on its own thread.
const UINT kMessageGadgetEvent = WM_APP + 0x100;
const UINT kMessageWake = WM_APP + 0x101;
const UINT kMessageDestroySelf = WM_APP + 0x102;

const char kOldProcProperty[] = "VezovudOldProc";

// The layer's flags and box kinds carry the values of the window styles and
// message box flags they stand for, so that turning one into the other is
// a mask.
static_assert(kWindowTitleBar == WS_CAPTION && kWindowMaximized == WS_MAXIMIZE,
              "window flags are window styles");
static_assert(kMessageExclamation == MB_ICONEXCLAMATION &&
                  kMessageInformation == MB_ICONINFORMATION && kMessageButtonOk == IDOK,
              "box kinds are message box icons");

struct WindowRecord {
  HWND handle;
  HACCEL accelerators;
  char className[kClassNameBytes];
};

struct GadgetRecord {
  HWND handle;
  int32_t kind;
  HBITMAP picture;  // picture gadgets only; not owned
};

struct ImageRecord {
  HBITMAP handle;
};

struct QueuedEvent {
  int32_t code;
  int32_t window;
};

// The last event, the gadget event that waits to be returned, and the queue
// of window events. Only the window thread touches it (window procedures run
// on the thread that owns the window).
struct EventRecord {
  int32_t gadget;
  int32_t window;
  int32_t type;
  bool gadgetPending;
  int32_t pendingGadget;
  int32_t pendingWindow;
  int32_t pendingType;
  bool dispatching;  // WaitForEvent is dispatching a message it fetched
  QueuedEvent queue[kEventQueueSlots];
  int queueHead;
  int queueCount;
};

struct GadgetList {
  HWND parent;
  HFONT font;
};

WindowRecord gWindows[kWindowSlots];
GadgetRecord gGadgets[kGadgetSlots];
ImageRecord gImages[kImageSlots];
EventRecord gEvents;
GadgetList gGadgetList;

bool ValidWindowNumber(int32_t n) { return n >= 0 && n < kWindowSlots; }
bool ValidGadgetNumber(int32_t n) { return n >= 0 && n < kGadgetSlots; }
bool ValidImageNumber(int32_t n) { return n >= 0 && n < kImageSlots; }

HWND GadgetHandle(int32_t number) {
  return ValidGadgetNumber(number) ? gGadgets[number].handle : nullptr;
}

// ---------------------------------------------------------------- events

// Records a gadget event. When it arrives outside WaitForEvent's own
// dispatch (a message sent from a worker thread is served inside
// GetMessageA, which would go on blocking), a wake-up message is posted so
// that the wait returns it at once.
void SetGadgetEvent(HWND window, int32_t gadget, int32_t type, int32_t windowNumber) {
  gEvents.gadgetPending = true;
  gEvents.pendingGadget = gadget;
  gEvents.pendingType = type;
  gEvents.pendingWindow = windowNumber;
  if (!gEvents.dispatching) PostMessageA(window, kMessageWake, 0, 0);
}

// Appends a window event unless it equals the last one still queued.
// A full queue drops the new event rather than grow.
void QueueWindowEvent(int32_t code, int32_t windowNumber) {
  if (gEvents.queueCount > 0) {
    const QueuedEvent& last =
        gEvents.queue[(gEvents.queueHead + gEvents.queueCount - 1) % kEventQueueSlots];
    if (last.code == code && last.window == windowNumber) return;
  }
  if (gEvents.queueCount == kEventQueueSlots) return;
  QueuedEvent& slot = gEvents.queue[(gEvents.queueHead + gEvents.queueCount) % kEventQueueSlots];
  slot.code = code;
  slot.window = windowNumber;
  gEvents.queueCount++;
}

int32_t TakeGadgetEvent() {
  gEvents.gadgetPending = false;
  gEvents.gadget = gEvents.pendingGadget;
  gEvents.window = gEvents.pendingWindow;
  gEvents.type = gEvents.pendingType;
  return kEventGadget;
}

int32_t TakeWindowEvent() {
  QueuedEvent taken = gEvents.queue[gEvents.queueHead];
  gEvents.queueHead = (gEvents.queueHead + 1) % kEventQueueSlots;
  gEvents.queueCount--;
  gEvents.window = taken.window;
  return taken.code;
}

// ------------------------------------------------------- keyboard focus

bool TakesTabFocus(HWND control) {
  return IsWindowEnabled(control) && IsWindowVisible(control) &&
         (GetWindowLongA(control, GWL_STYLE) & WS_TABSTOP) != 0;
}

// Moves the focus to the next (or previous) child of window in creation
// order that takes the focus, wrapping around. Children are kept in
// creation order by the system's sibling list.
void MoveFocus(HWND window, bool forward) {
  HWND current = GetFocus();
  while (current != nullptr && GetParent(current) != window) {
    if (!(GetWindowLongA(current, GWL_STYLE) & WS_CHILD)) {
      current = nullptr;
      break;
    }
    current = GetParent(current);
  }
  HWND first = nullptr, last = nullptr, before = nullptr, after = nullptr;
  bool seen = false;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (child == current) {
      seen = true;
      continue;
    }
    if (!TakesTabFocus(child)) continue;
    if (first == nullptr) first = child;
    last = child;
    if (!seen) {
      before = child;
    } else if (after == nullptr) {
      after = child;
    }
  }
  HWND target = forward ? (after != nullptr ? after : first) : (before != nullptr ? before : last);
  if (target != nullptr) SetFocus(target);
}

// --------------------------------------------------- window procedures

int32_t WindowNumberOf(HWND window) {
  if (window == nullptr) return -1;
  for (int i = 0; i < kWindowSlots; i++) {
    if (gWindows[i].handle == window) return i;
  }
  return -1;
}

// The layer's event type for a control's notification code: a click
// (BN_CLICKED, which is also a notifying picture's STN_CLICKED) or a changed
// text keep their codes; other notices have none.
static_assert(kEventTypeClick == BN_CLICKED && kEventTypeTextChanged == EN_CHANGE,
              "event types are notification codes");
int32_t EventTypeOf(WORD code) {
  return (code == BN_CLICKED || code == EN_CHANGE) ? code : kEventTypeNone;
}

LRESULT CALLBACK LayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    // The number travels in the creation data, so that events of the
    // creation itself already carry it.
    CREATESTRUCTA* create = (CREATESTRUCTA*)lParam;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  int32_t number = static_cast<int32_t>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (lParam != 0) {
        SetGadgetEvent(window, LOWORD(wParam), EventTypeOf(HIWORD(wParam)), number);
        return 0;
      }
      if (HIWORD(wParam) == 1 &&
          (LOWORD(wParam) == kCommandTab || LOWORD(wParam) == kCommandShiftTab)) {
        MoveFocus(window, LOWORD(wParam) == kCommandTab);
        return 0;
      }
      break;
    case kMessageGadgetEvent:
      SetGadgetEvent(window, static_cast<int32_t>(wParam), static_cast<int32_t>(lParam), number);
      return 0;
    case kMessageDestroySelf: DestroyWindow(window); return 0;
    case WM_CLOSE:
      // A close request is only reported; the window stays.
      QueueWindowEvent(kEventCloseWindow, number);
      return 0;
    case WM_MOVE: QueueWindowEvent(kEventMoveWindow, number); break;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) QueueWindowEvent(kEventSizeWindow, number);
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) QueueWindowEvent(kEventActivateWindow, number);
      break;
    case WM_ERASEBKGND: QueueWindowEvent(kEventRepaint, number); break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void PaintPicture(HWND control, HBITMAP picture) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(control, &paint);
  if (dc != nullptr && picture != nullptr) {
    DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(picture), 0, 0, 0, 0, 0, DST_BITMAP);
  }
  EndPaint(control, &paint);
}

// Subclass of every gadget: releases the record when the control goes, and
// adds the focus events of text fields and the painting and mouse events of
// pictures.
LRESULT CALLBACK GadgetProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC oldProc = reinterpret_cast<WNDPROC>(GetPropA(control, kOldProcProperty));
  int32_t number = GetDlgCtrlID(control);
  GadgetRecord* record = (ValidGadgetNumber(number) && gGadgets[number].handle == control)
                             ? &gGadgets[number]
                             : nullptr;
  int32_t kind = record != nullptr ? record->kind : 0;
  HWND parent = GetParent(control);
  switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      if (kind == kGadgetTextField) {
        PostMessageA(parent, kMessageGadgetEvent, number,
                     message == WM_SETFOCUS ? kEventTypeFocus : kEventTypeFocusLost);
      }
      break;
    case WM_PAINT:
      if (kind == kGadgetPicture) {
        PaintPicture(control, record->picture);
        return 0;
      }
      break;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
      if (kind == kGadgetPicture) {
        int32_t type = message == WM_LBUTTONDBLCLK ? kEventTypeDoubleClick
                       : message == WM_RBUTTONDOWN ? kEventTypeRightClick
                                                   : kEventTypeRightDoubleClick;
        PostMessageA(parent, kMessageGadgetEvent, number, type);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc));
      RemovePropA(control, kOldProcProperty);
      if (record != nullptr) {
        record->handle = nullptr;
        record->kind = 0;
        record->picture = nullptr;
      }
      break;
  }
  if (oldProc == nullptr) return DefWindowProcA(control, message, wParam, lParam);
  return CallWindowProcA(oldProc, control, message, wParam, lParam);
}

// ---------------------------------------------------------- windows

// Destroys a window on its own thread (DestroyWindow refuses other threads'
// windows); a hung window thread is given up after a while.
void DestroyLayerWindow(HWND window) {
  if (window == nullptr || !IsWindow(window)) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
  } else {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, kMessageDestroySelf, 0, 0, SMTO_ABORTIFHUNG, kDestroyTimeoutMs,
                        &ignored);
  }
}

void CloseWindowSlot(int32_t number) {
  WindowRecord& record = gWindows[number];
  if (record.handle != nullptr) {
    if (gGadgetList.parent == record.handle) gGadgetList.parent = nullptr;
    DestroyLayerWindow(record.handle);
    record.handle = nullptr;
  }
  if (record.accelerators != nullptr) {
    DestroyAcceleratorTable(record.accelerators);
    record.accelerators = nullptr;
  }
  if (record.className[0] != 0) {
    UnregisterClassA(record.className, GetModuleHandleA(nullptr));
    record.className[0] = 0;
  }
}

// ----------------------------------------------------------- gadgets

void DestroyGadgetSlot(int32_t number) {
  HWND handle = gGadgets[number].handle;
  if (handle != nullptr) DestroyLayerWindow(handle);
  gGadgets[number].handle = nullptr;
  gGadgets[number].kind = 0;
  gGadgets[number].picture = nullptr;
}

HWND CreateGadget(int32_t number, int32_t kind, const char* className, DWORD style, DWORD exStyle,
                  const char* text, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!ValidGadgetNumber(number)) return nullptr;
  if (gGadgetList.parent == nullptr || !IsWindow(gGadgetList.parent)) return nullptr;
  DestroyGadgetSlot(number);
  HWND control = CreateWindowExA(
      exStyle, className, text, style, x, y, width, height, gGadgetList.parent,
      reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), GetModuleHandleA(nullptr), nullptr);
  if (control == nullptr) return nullptr;
  gGadgets[number].handle = control;
  gGadgets[number].kind = kind;
  gGadgets[number].picture = nullptr;
  LONG_PTR oldProc =
      SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GadgetProc));
  SetPropA(control, kOldProcProperty, reinterpret_cast<HANDLE>(oldProc));
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(gGadgetList.font), TRUE);
  return control;
}

// Shows picture in a picture gadget, which takes the bitmap's size.
void SetPicture(int32_t number, HBITMAP picture) {
  HWND control = gGadgets[number].handle;
  BITMAP info;
  if (picture == nullptr ||
      GetObjectA(picture, sizeof(info), &info) != static_cast<int>(sizeof(info))) {
    picture = nullptr;
  }
  gGadgets[number].picture = picture;
  if (picture != nullptr) {
    int edge =
        (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) ? kPictureClientEdgePixels : 0;
    SetWindowPos(control, nullptr, 0, 0, info.bmWidth + edge, info.bmHeight + edge,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(control, nullptr, TRUE);
}

// --------------------------------------------------------- requesters

BOOL CALLBACK DisableForModal(HWND window, LPARAM data) {
  Modality* modality = (Modality*)data;
  if (window != modality->foreground && IsWindowVisible(window) && IsWindowEnabled(window) &&
      modality->count < kModalWindowSlots) {
    EnableWindow(window, FALSE);
    modality->disabled[modality->count++] = window;
  }
  return TRUE;
}

int CALLBACK FolderChooserCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
  const char* initial = reinterpret_cast<const char*>(data);
  if (message == BFFM_INITIALIZED && initial != nullptr && initial[0] != 0) {
    SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(initial));
  }
  return 0;
}

}  // namespace

// ================================================================ API

void BeginModal(Modality* modality) {
  modality->count = 0;
  modality->owner = nullptr;
  modality->foreground = GetForegroundWindow();
  DWORD process = 0;
  if (modality->foreground != nullptr) {
    GetWindowThreadProcessId(modality->foreground, &process);
    if (process == GetCurrentProcessId()) modality->owner = modality->foreground;
  }
  EnumThreadWindows(GetCurrentThreadId(), DisableForModal, reinterpret_cast<LPARAM>(modality));
}

void EndModal(Modality* modality) {
  for (int i = 0; i < modality->count; i++) EnableWindow(modality->disabled[i], TRUE);
  modality->count = 0;
}

void InitWindows() {
  InitCommonControls();
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);
  memset(gWindows, 0, sizeof(gWindows));
  memset(gGadgets, 0, sizeof(gGadgets));
  memset(gImages, 0, sizeof(gImages));
  memset(&gEvents, 0, sizeof(gEvents));
  gEvents.type = kEventTypeNone;
  gGadgetList.parent = nullptr;
  gGadgetList.font = reinterpret_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void EndWindows() {
  for (int i = 0; i < kWindowSlots; i++) CloseWindowSlot(i);
  for (int i = 0; i < kGadgetSlots; i++) {
    gGadgets[i].handle = nullptr;
    gGadgets[i].kind = 0;
    gGadgets[i].picture = nullptr;
  }
  for (int i = 0; i < kImageSlots; i++) {
    if (gImages[i].handle != nullptr) DeleteObject(gImages[i].handle);
    memset(&gImages[i], 0, sizeof(gImages[i]));
  }
  gGadgetList.parent = nullptr;
}

intptr_t OpenWindowByNumber(int32_t number, int32_t x, int32_t y, int32_t innerWidth,
                            int32_t innerHeight, const Text& title, int32_t flags) {
  if (!ValidWindowNumber(number)) return 0;
  CloseWindowSlot(number);
  WindowRecord& record = gWindows[number];
  HINSTANCE instance = GetModuleHandleA(nullptr);

  wsprintfA(record.className, "VezovudWindow%d", static_cast<int>(number));
  UnregisterClassA(record.className, instance);  // left over by a destroyed window
  WNDCLASSA windowClass;
  memset(&windowClass, 0, sizeof(windowClass));
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = LayerWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = record.className;
  if (RegisterClassA(&windowClass) == 0) {
    record.className[0] = 0;
    return 0;
  }

  // The layer's flags as window styles (kWindowTitleBar is WS_CAPTION,
  // kWindowMaximized WS_MAXIMIZE); a window with neither gets the title bar.
  if ((flags & (kWindowTitleBar | kWindowMaximized)) == 0) flags |= kWindowTitleBar;
  DWORD style = static_cast<DWORD>(flags) & (kWindowTitleBar | kWindowMaximized);
  bool invisible = (flags & kWindowInvisible) != 0;
  int32_t centre = flags & (kWindowCentreOnScreen | kWindowCentreOnActive);

  RECT outer = {0, 0, innerWidth, innerHeight};
  AdjustWindowRect(&outer, style, FALSE);
  int width = outer.right - outer.left;
  int height = outer.bottom - outer.top;

  int left = x, top = y;
  if (centre & kWindowCentreOnScreen) {
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (width > screenWidth) width = screenWidth;
    if (height > screenHeight) height = screenHeight;
    left = (screenWidth - width) / 2;
    top = (screenHeight - height) / 2;
  } else if (centre & kWindowCentreOnActive) {
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    HWND active = GetActiveWindow();
    if (active != nullptr) GetWindowRect(active, &area);
    left = area.left + (area.right - area.left - width) / 2;
    top = area.top + (area.bottom - area.top - height) / 2;
    if (left < 0) left = 0;
    if (top < 0) top = 0;
  } else if (x == kWindowDefaultPosition || y == kWindowDefaultPosition) {
    left = CW_USEDEFAULT;
    top = CW_USEDEFAULT;
  }

  HWND window =
      CreateWindowExA(0, record.className, title.c_str(), style, left, top, width, height, nullptr,
                      nullptr, instance, reinterpret_cast<LPVOID>(static_cast<intptr_t>(number)));
  if (window == nullptr) {
    UnregisterClassA(record.className, instance);
    record.className[0] = 0;
    return 0;
  }
  record.handle = window;
  if (!invisible) {
    ShowWindow(window, (flags & kWindowMaximized) ? SW_MAXIMIZE : SW_SHOWNORMAL);
  }
  ACCEL keys[2];
  keys[0].fVirt = FVIRTKEY;
  keys[0].key = VK_TAB;
  keys[0].cmd = kCommandTab;
  keys[1].fVirt = FVIRTKEY | FSHIFT;
  keys[1].key = VK_TAB;
  keys[1].cmd = kCommandShiftTab;
  record.accelerators = CreateAcceleratorTableA(keys, 2);
  return reinterpret_cast<intptr_t>(window);
}

intptr_t WindowHandleOf(int32_t number) {
  return ValidWindowNumber(number) ? reinterpret_cast<intptr_t>(gWindows[number].handle) : 0;
}

int32_t ShowOrHideWindow(int32_t number, int32_t hide) {
  HWND window = reinterpret_cast<HWND>(WindowHandleOf(number));
  if (window == nullptr) return 0;
  if (hide) {
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) SetActiveWindow(owner);
    ShowWindow(window, SW_HIDE);
  } else {
    ShowWindow(window, IsZoomed(window) ? SW_MAXIMIZE : SW_SHOWNORMAL);
  }
  return 1;
}

intptr_t BeginGadgets(intptr_t window) {
  if (window == 0 || WindowNumberOf(reinterpret_cast<HWND>(window)) < 0) return 0;
  gGadgetList.parent = reinterpret_cast<HWND>(window);
  return window;
}

intptr_t AddButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const Text& caption) {
  return reinterpret_cast<intptr_t>(CreateGadget(number, kGadgetButton, "Button", kButtonStyle, 0,
                                                 caption.c_str(), x, y, width, height));
}

intptr_t AddTextField(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const Text& text) {
  return reinterpret_cast<intptr_t>(CreateGadget(number, kGadgetTextField, "Edit", kTextFieldStyle,
                                                 WS_EX_CLIENTEDGE, text.c_str(), x, y, width,
                                                 height));
}

intptr_t AddLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                  const Text& text) {
  return reinterpret_cast<intptr_t>(CreateGadget(number, kGadgetLabel, "Static", kLabelStyle, 0,
                                                 text.c_str(), x, y, width, height));
}

intptr_t AddPicture(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    intptr_t image) {
  HWND control =
      CreateGadget(number, kGadgetPicture, "STATIC", kPictureStyle, 0, "", x, y, width, height);
  if (control == nullptr) return 0;
  SetPicture(number, reinterpret_cast<HBITMAP>(image));
  return reinterpret_cast<intptr_t>(control);
}

intptr_t AddProgressBar(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        int32_t minimum, int32_t maximum) {
  HWND control = CreateGadget(number, kGadgetProgressBar, PROGRESS_CLASSA, kProgressBarStyle, 0, "",
                              x, y, width, height);
  if (control == nullptr) return 0;
  SendMessageA(control, PBM_SETRANGE32, static_cast<WPARAM>(minimum), static_cast<LPARAM>(maximum));
  SendMessageA(control, PBM_SETPOS, static_cast<WPARAM>(minimum), 0);
  return reinterpret_cast<intptr_t>(control);
}

int32_t PutGadgetText(int32_t number, const Text& text) {
  HWND control = GadgetHandle(number);
  if (control == nullptr) return 0;
  SetWindowTextA(control, text.c_str());
  return 1;
}

Text ReadGadgetText(int32_t number) {
  HWND control = GadgetHandle(number);
  if (control == nullptr) return Text();
  int length = GetWindowTextLengthA(control);
  if (length <= 0) return Text();
  char* buffer = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
  if (buffer == nullptr) return Text();
  int got = GetWindowTextA(control, buffer, length + 1);
  Text result(buffer, got > 0 ? got : 0);
  free(buffer);
  return result;
}

int32_t PutGadgetValue(int32_t number, int32_t value) {
  HWND control = GadgetHandle(number);
  if (control == nullptr) return 0;
  if (gGadgets[number].kind == kGadgetProgressBar) {
    SendMessageA(control, PBM_SETPOS, static_cast<WPARAM>(value), 0);
  } else if (gGadgets[number].kind == kGadgetButton) {
    SendMessageA(control, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  return 1;
}

int32_t SetGadgetDisabled(int32_t number, int32_t disabled) {
  HWND control = GadgetHandle(number);
  if (control == nullptr) return 0;
  EnableWindow(control, disabled == 0);
  return 1;
}

int32_t WaitForEvent() {
  gEvents.type = kEventTypeNone;
  if (gEvents.gadgetPending) return TakeGadgetEvent();
  if (gEvents.queueCount > 0) return TakeWindowEvent();

  MSG message;
  BOOL got = GetMessageA(&message, nullptr, 0, 0);
  if (got == -1) return 0;
  gEvents.dispatching = true;
  HWND active = GetActiveWindow();
  int32_t activeNumber = WindowNumberOf(active);
  HACCEL accelerators = activeNumber >= 0 ? gWindows[activeNumber].accelerators : nullptr;
  if (accelerators == nullptr || !TranslateAcceleratorA(active, accelerators, &message)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  gEvents.dispatching = false;

  if (gEvents.gadgetPending) return TakeGadgetEvent();
  if (gEvents.queueCount > 0) return TakeWindowEvent();
  return static_cast<int32_t>(message.message);
}

int32_t LastEventGadget() { return gEvents.gadget; }
int32_t LastEventWindow() { return gEvents.window; }
int32_t LastEventType() { return gEvents.type; }

intptr_t ImageFromMemory(int32_t number, const void* bmp, int32_t bytes) {
  BitmapLayout layout;
  if (!ValidImageNumber(number) || !ReadBitmapLayout(bmp, bytes, &layout)) return 0;
  const uint8_t* file = (const uint8_t*)bmp;

  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (display == nullptr) return 0;
  BITMAPINFO target;
  memset(&target, 0, sizeof(target));
  target.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  target.bmiHeader.biWidth = layout.width;
  target.bmiHeader.biHeight = layout.height;
  target.bmiHeader.biPlanes = 1;
  target.bmiHeader.biBitCount = 32;
  target.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(display, &target, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bitmap != nullptr &&
      SetDIBits(display, bitmap, 0, layout.rows, file + layout.pixelOffset,
                (const BITMAPINFO*)(file + kBmpFileHeaderBytes), DIB_RGB_COLORS) == 0) {
    DeleteObject(bitmap);
    bitmap = nullptr;
  }
  DeleteDC(display);
  if (bitmap == nullptr) return 0;

  ImageRecord& record = gImages[number];
  if (record.handle != nullptr) {
    // Pictures that showed the old image show the new one: they must not
    // keep a handle that is about to be deleted.
    for (int i = 0; i < kGadgetSlots; i++) {
      if (gGadgets[i].handle != nullptr && gGadgets[i].picture == record.handle)
        SetPicture(i, bitmap);
    }
    DeleteObject(record.handle);
  }
  record.handle = bitmap;
  return reinterpret_cast<intptr_t>(bitmap);
}

intptr_t ImageHandleOf(int32_t number) {
  return ValidImageNumber(number) ? reinterpret_cast<intptr_t>(gImages[number].handle) : 0;
}

int32_t ShowMessage(const Text& title, const Text& text, int32_t flags) {
  Modality modality;
  BeginModal(&modality);
  UINT icon = static_cast<UINT>(flags) & (kMessageExclamation | kMessageInformation);
  int result = MessageBoxA(modality.owner, text.c_str(), title.c_str(), MB_OK | icon);
  EndModal(&modality);
  return result;  // IDOK, the one button, or 0 on failure
}

Text AskForFolder(const Text& title, const Text& initialPath) {
  typedef LPITEMIDLIST(WINAPI * BrowseProcedure)(LPBROWSEINFOA);
  typedef BOOL(WINAPI * PathProcedure)(LPCITEMIDLIST, LPSTR);
  HMODULE shell = LoadLibraryA("SHELL32.DLL");
  if (shell == nullptr) return Text();
  BrowseProcedure browse = reinterpret_cast<BrowseProcedure>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHBrowseForFolder")));
  if (browse == nullptr)
    browse = reinterpret_cast<BrowseProcedure>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHBrowseForFolderA")));
  PathProcedure pathOf = reinterpret_cast<PathProcedure>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHGetPathFromIDList")));
  if (pathOf == nullptr)
    pathOf = reinterpret_cast<PathProcedure>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHGetPathFromIDListA")));
  if (browse == nullptr || pathOf == nullptr) {
    FreeLibrary(shell);
    return Text();
  }

  // An initial path that does not fit the buffer is not cut short (that
  // would select some other folder): the chooser then opens without one.
  char initial[kFolderPathBytes];
  initial[0] = 0;
  int length = initialPath.Length();
  if (length < kFolderPathBytes) {
    memcpy(initial, initialPath.c_str(), static_cast<size_t>(length) + 1);
    if (length > 3 && initial[length - 1] == '\\') initial[length - 1] = 0;
  }
  char displayName[kFolderPathBytes];
  displayName[0] = 0;

  // The new dialog style needs COM on this thread; a thread that has it
  // already keeps its own set-up.
  HRESULT com = CoInitialize(nullptr);
  Modality modality;
  BeginModal(&modality);
  BROWSEINFOA browseInfo;
  memset(&browseInfo, 0, sizeof(browseInfo));
  browseInfo.hwndOwner = modality.owner;
  browseInfo.pidlRoot = nullptr;
  browseInfo.pszDisplayName = displayName;
  browseInfo.lpszTitle = title.c_str();
  browseInfo.ulFlags = BIF_NEWDIALOGSTYLE;
  browseInfo.lpfn = FolderChooserCallback;
  browseInfo.lParam = reinterpret_cast<LPARAM>(initial);
  LPITEMIDLIST items = browse(&browseInfo);
  EndModal(&modality);

  Text result;
  if (items != nullptr) {
    char path[kFolderPathBytes];
    path[0] = 0;
    if (pathOf(items, path) && path[0] != 0) {
      path[kFolderPathBytes - 1] = 0;
      result = path;
      if (result.Last() != '\\') result += '\\';
    }
    CoTaskMemFree(items);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  FreeLibrary(shell);
  return result;
}
