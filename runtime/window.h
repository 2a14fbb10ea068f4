// The window, gadget and dialog layer: numbered top-level windows, numbered
// gadgets (child controls) inside them, numbered images decoded from BMP file
// images in memory, a blocking event wait and three modal requesters.
// Two back ends implement it: window_win32.cpp (the programs) and
// window_headless.cpp (in-memory, for native tests; see window_headless.h).
// Native handles travel as intptr_t; 0 always means "none" or "failed".
#ifndef VEZOVUD_RUNTIME_WINDOW_H
#define VEZOVUD_RUNTIME_WINDOW_H

#include <stdint.h>

#include "runtime/text.h"

// Event codes returned by WaitForEvent.
const int32_t kEventGadget = 13100;    // a gadget was used: LastEventGadget
const int32_t kEventCloseWindow = 16;  // close request; the window stays
const int32_t kEventMoveWindow = 3;
const int32_t kEventSizeWindow = 5;
const int32_t kEventActivateWindow = 13104;
const int32_t kEventRepaint = 15;

// Event types of a gadget event (LastEventType). A gadget's other notices
// come as gadget events of type kEventTypeNone, which callers ignore.
const int32_t kEventTypeNone = -1;
const int32_t kEventTypeClick = 0;             // a button or picture was clicked
const int32_t kEventTypeFocus = 14000;         // a text field gained the focus
const int32_t kEventTypeFocusLost = 14001;     // a text field lost the focus
const int32_t kEventTypeTextChanged = 0x300;   // a text field's text changed
const int32_t kEventTypeRightClick = 1;        // picture gadget
const int32_t kEventTypeDoubleClick = 2;       // picture gadget
const int32_t kEventTypeRightDoubleClick = 3;  // picture gadget

// Window flags for OpenWindowByNumber; other bits are ignored. The values
// are fixed: the stub's window takes kWindowInvisible | kWindowTitleBar,
// 0x10C00000.
const int32_t kWindowCentreOnScreen = 1;
const int32_t kWindowCentreOnActive = 2;
const int32_t kWindowInvisible = 0x10000000;  // hidden until ShowOrHideWindow
const int32_t kWindowTitleBar = 0x00C00000;   // a title bar without a system menu
const int32_t kWindowMaximized = 0x01000000;
// x or y of this value lets the system place the window.
const int32_t kWindowDefaultPosition = -65535;

// Gadget kinds, as the layer reports them.
const int32_t kGadgetButton = 1;
const int32_t kGadgetTextField = 2;
const int32_t kGadgetLabel = 3;
const int32_t kGadgetPicture = 9;
const int32_t kGadgetProgressBar = 14;

// Message box kinds for ShowMessage (each box has one OK button) and the
// button it returns.
const int32_t kMessageExclamation = 48;  // exclamation icon
const int32_t kMessageInformation = 64;  // information icon
const int32_t kMessageButtonOk = 1;

// Highest object numbers each table accepts; larger numbers fail with 0.
const int32_t kMaxWindowNumber = 63;
const int32_t kMaxGadgetNumber = 1023;
const int32_t kMaxImageNumber = 63;

// Initialises the common controls, the default gadget font and the tables.
// Call once on the window thread before any other operation here.
void InitWindows();

// Destroys the remaining windows (and their gadgets), unregisters their
// classes and deletes the images. Safe from any thread; call once at exit.
void EndWindows();

// Creates (or replaces) window number with its outer top-left corner at x, y
// and a client area of innerWidth x innerHeight. flags: kWindowTitleBar is
// added when they hold nothing but kWindowInvisible and the centring flags;
// kWindowInvisible keeps the window hidden until ShowOrHideWindow(number, 0).
// Creates the Tab / Shift+Tab accelerators. Returns the native handle, or 0
// (bad number, or the window could not be made).
intptr_t OpenWindowByNumber(int32_t number, int32_t x, int32_t y, int32_t innerWidth,
                            int32_t innerHeight, const Text& title, int32_t flags);

// The native handle of window number, 0 for a number not in use.
intptr_t WindowHandleOf(int32_t number);

// hide 1 hides the window (activating its owner first), 0 shows it.
// Returns 1, or 0 for a number not in use.
int32_t ShowOrHideWindow(int32_t number, int32_t hide);

// Makes the window with this native handle the parent of the gadgets created
// next. Returns the handle, or 0 when it is not one of this layer's windows.
intptr_t BeginGadgets(intptr_t window);

// The five gadget kinds. Each creates (or replaces) gadget number in the
// window of BeginGadgets at x, y (client pixels) with width x height, gives it
// the default GUI font and returns its native handle; 0 when there is no
// gadget window, the number is bad or the control could not be made.
intptr_t AddButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const Text& caption);
intptr_t AddTextField(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const Text& text);
intptr_t AddLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                  const Text& text);
// The picture takes the size of the image (ImageHandleOf); image 0 leaves an
// empty picture of the given size.
intptr_t AddPicture(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    intptr_t image);
// Range minimum..maximum, value minimum at first.
intptr_t AddProgressBar(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        int32_t minimum, int32_t maximum);

// One row of a window's gadget table, as AddGadgets reads it.
struct GadgetSpec {
  int16_t number;
  int16_t kind;  // kGadgetButton ... kGadgetProgressBar
  int16_t x, y, width, height;
  int16_t maximum;   // progress bars: the range is 0..maximum
  const char* text;  // buttons, labels and text fields; null for the others
};

// Creates the gadgets of table (count rows) in the window of BeginGadgets,
// in table order, which is also their Tab order, through the five procedures
// above; a picture shows image. Returns 1 when every gadget was made, else 0
// (the rows after a failed one are still tried).
int32_t AddGadgets(const GadgetSpec* table, int32_t count, intptr_t image);

// Gadget operations. Any thread may call them; each has taken effect when it
// returns, as long as the window thread is waiting in WaitForEvent (or in a
// requester). Each returns 1, or 0 for a gadget number not in use.
int32_t PutGadgetText(int32_t number, const Text& text);
// A progress bar takes value as its position (clipped to its range); a
// button is checked for a non-zero value. Other kinds ignore it.
int32_t PutGadgetValue(int32_t number, int32_t value);
// disabled 1 disables the gadget, 0 enables it.
int32_t SetGadgetDisabled(int32_t number, int32_t disabled);
// The gadget's text; the empty text for a number not in use.
Text ReadGadgetText(int32_t number);

// Blocks until the next event and returns its code: kEventGadget for a
// gadget event (see LastEventGadget, LastEventType), a window event code
// (see LastEventWindow), or, for other messages of the thread, the message's
// own number, which callers ignore. Call it on the window thread.
int32_t WaitForEvent();
// The gadget number of the last gadget event, 0 before any.
int32_t LastEventGadget();
// The window number of the last event, 0 before any.
int32_t LastEventWindow();
// The event type of the last event (kEventTypeNone when it has none).
int32_t LastEventType();

// Decodes the BMP file image at bmp (bytes long) into image number as a
// 32-bit bitmap. Returns the native bitmap handle, or 0 when the data is no
// BMP file image, does not fit in bytes, or the bitmap cannot be made.
intptr_t ImageFromMemory(int32_t number, const void* bmp, int32_t bytes);
// The native bitmap handle of image number, 0 for a number not in use.
intptr_t ImageHandleOf(int32_t number);

// Modal message box; flags is its kind (kMessageExclamation,
// kMessageInformation). Returns the button pressed (kMessageButtonOk), 0 on
// failure.
int32_t ShowMessage(const Text& title, const Text& text, int32_t flags);

// Modal folder chooser starting at initialPath (empty: no selection).
// Returns the chosen folder ending in "\", or the empty text on Cancel, for a
// folder without a file-system path, or on any failure.
Text AskForFolder(const Text& title, const Text& initialPath);

// Modal save-file chooser with no file name filled in. patterns is a
// "|"-separated list of description and filter pairs
// ("Executable files (*.exe)|*.exe"), the first pair shown first. No
// overwrite prompt, no default extension. Returns the chosen full path, or
// the empty text on Cancel or failure.
Text AskForSaveFile(const Text& title, const Text& patterns);

#endif
