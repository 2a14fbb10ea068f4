// Test-only controls of the headless window layer (window_headless.cpp): it
// keeps windows and gadgets in memory, so tests can read gadget state, feed
// events from any thread and script the requesters' answers. The programs
// never use this header.
#ifndef VEZOVUD_RUNTIME_WINDOW_HEADLESS_H
#define VEZOVUD_RUNTIME_WINDOW_HEADLESS_H

#include <stdint.h>

#include "runtime/text.h"
#include "runtime/window.h"

// Everything a test can see of one gadget. exists is 0 for a number not in
// use; every other field is then 0 or empty.
struct HeadlessGadget {
  int32_t exists;
  int32_t kind;    // kGadgetButton ... kGadgetProgressBar
  int32_t window;  // number of the window it was created in
  Text text;
  int32_t value;    // progress position, or 1 for a checked button
  int32_t minimum;  // progress bars only
  int32_t maximum;
  int32_t enabled;  // 1 or 0
  int32_t x, y, width, height;
  intptr_t image;  // picture gadgets: the image handle given
};

struct HeadlessWindow {
  int32_t exists;
  int32_t visible;
  Text title;
  int32_t x, y, innerWidth, innerHeight;
  int32_t flags;  // as given to OpenWindowByNumber
};

// Which requester a log entry belongs to.
const int32_t kRequesterMessage = 1;
const int32_t kRequesterFolder = 2;
const int32_t kRequesterSaveFile = 3;

// One requester call. For a message box: title, text (in first) and flags;
// for the folder chooser: title and initial path (first); for the save-file
// chooser: title and pattern list (first).
struct HeadlessRequest {
  int32_t kind;
  Text title;
  Text first;
  int32_t number;  // message flags
  Text answer;     // what the requester returned (message boxes: empty)
  int32_t button;  // message boxes: the button returned
};

// Called in place of the scripted button when set; returns the button.
// It runs on the thread that called ShowMessage, with no lock held, so it
// may read gadgets or post events.
typedef int32_t (*HeadlessMessageHandler)(const Text& title, const Text& text, int32_t flags);

// Forgets every window, gadget, image, event, answer and log entry, and
// restores the defaults (button kMessageButtonOk, no handler, no timeout).
void HeadlessReset();

HeadlessGadget HeadlessGadgetState(int32_t number);
HeadlessWindow HeadlessWindowState(int32_t number);
// Which gadget has the keyboard focus, -1 for none. Focus follows the rules
// of the Win32 back end: HeadlessPressTab moves it in creation order.
int32_t HeadlessFocusedGadget();

// Events. Each may be called from any thread and wakes a blocked
// WaitForEvent. They return 1 when an event was queued, else 0.
// A raw gadget event, whatever the gadget's state.
int32_t HeadlessPostGadgetEvent(int32_t gadget, int32_t type);
// A window event (kEventCloseWindow, ...) for window number.
int32_t HeadlessPostWindowEvent(int32_t window, int32_t code);
// A user's click: only an existing, enabled button or picture takes it;
// it gives a gadget event of type kEventTypeClick.
int32_t HeadlessClick(int32_t gadget);
// A user's typing: only an existing, enabled text field takes it; its text
// becomes text and a gadget event of type kEventTypeTextChanged follows.
int32_t HeadlessType(int32_t gadget, const Text& text);
// Tab (forward 1) or Shift+Tab (forward 0): moves the focus like the Win32
// back end and posts the text fields' focus events.
int32_t HeadlessPressTab(int32_t forward);

// WaitForEvent gives up after timeoutMs and returns 0 (no event) when the
// timeout is not negative; -1 (the default) waits for ever, as the real
// layer does.
void HeadlessSetWaitTimeout(int32_t timeoutMs);

// Scripted answers, used in order; a requester with no answer left behaves
// as if the user cancelled (the empty text).
void HeadlessAnswerFolder(const Text& answer);
void HeadlessAnswerSaveFile(const Text& answer);
// The button every message box returns (kMessageButtonOk at first).
void HeadlessSetMessageButton(int32_t button);
void HeadlessSetMessageHandler(HeadlessMessageHandler handler);

// The log of requester calls, oldest first.
int32_t HeadlessRequestCount();
HeadlessRequest HeadlessRequestAt(int32_t index);
// The message boxes of the log alone: their number and the i-th of them.
int32_t HeadlessMessageCount();
HeadlessRequest HeadlessMessageAt(int32_t index);

#endif
