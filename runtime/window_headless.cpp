// Headless back end of the window layer: windows, gadgets and images are
// records in memory, events come from the test controls of
// window_headless.h, and requesters answer from a script. One lock guards
// all of it, so worker threads and tests may call in at any time.
#include "runtime/window_headless.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "runtime/window_bitmap.h"

namespace {

const int kWindowSlots = kMaxWindowNumber + 1;
const int kGadgetSlots = kMaxGadgetNumber + 1;
const int kImageSlots = kMaxImageNumber + 1;
const int kEventQueueSlots = 256;
const int kAnswerSlots = 64;
const int kRequestLogSlots = 256;
const intptr_t kFirstHandle = 0x1000;
const int32_t kNoFocus = -1;

struct WindowRecord {
  intptr_t handle;
  int32_t visible;
  Text title;
  int32_t x, y, innerWidth, innerHeight, flags;
};

struct GadgetRecord {
  intptr_t handle;
  int32_t kind;
  int32_t window;
  uint32_t order;  // creation order, for Tab
  Text text;
  int32_t value, minimum, maximum, enabled;
  int32_t x, y, width, height;
  intptr_t image;
};

struct ImageRecord {
  intptr_t handle;
  int32_t width, height;  // pictures showing the image take its size
};

struct Event {
  int32_t code;
  int32_t gadget;
  int32_t window;
  int32_t type;
};

// Answers for one requester, used in order.
struct AnswerQueue {
  Text answers[kAnswerSlots];
  int head;
  int count;
};

struct State {
  std::mutex lock;
  std::condition_variable eventArrived;
  WindowRecord windows[kWindowSlots];
  GadgetRecord gadgets[kGadgetSlots];
  ImageRecord images[kImageSlots];
  intptr_t nextHandle;
  uint32_t nextOrder;
  int32_t gadgetWindow;  // window number of BeginGadgets, -1 for none
  int32_t focus;
  Event queue[kEventQueueSlots];
  int queueHead;
  int queueCount;
  Event last;
  int32_t waitTimeoutMs;
  AnswerQueue folderAnswers;
  AnswerQueue saveFileAnswers;
  int32_t messageButton;
  HeadlessMessageHandler messageHandler;
  HeadlessRequest log[kRequestLogSlots];
  int logCount;
};

void ResetLocked(State& s);

// Built and reset on first use, so the defaults hold before InitWindows.
State& TheState() {
  static State* state = [] {
    static State s;
    ResetLocked(s);
    return &s;
  }();
  return *state;
}

bool ValidWindowNumber(int32_t n) { return n >= 0 && n < kWindowSlots; }
bool ValidGadgetNumber(int32_t n) { return n >= 0 && n < kGadgetSlots; }
bool ValidImageNumber(int32_t n) { return n >= 0 && n < kImageSlots; }

// All helpers below expect the lock to be held.

void ClearWindow(WindowRecord& w) {
  w.handle = 0;
  w.visible = 0;
  w.title = Text();
  w.x = w.y = w.innerWidth = w.innerHeight = w.flags = 0;
}

void ClearGadget(GadgetRecord& g) {
  g.handle = 0;
  g.kind = 0;
  g.window = 0;
  g.order = 0;
  g.text = Text();
  g.value = g.minimum = g.maximum = g.enabled = 0;
  g.x = g.y = g.width = g.height = 0;
  g.image = 0;
}

void ResetLocked(State& s) {
  for (int i = 0; i < kWindowSlots; i++) ClearWindow(s.windows[i]);
  for (int i = 0; i < kGadgetSlots; i++) ClearGadget(s.gadgets[i]);
  for (int i = 0; i < kImageSlots; i++) s.images[i] = ImageRecord{0, 0, 0};
  s.nextHandle = kFirstHandle;
  s.nextOrder = 1;
  s.gadgetWindow = -1;
  s.focus = kNoFocus;
  s.queueHead = 0;
  s.queueCount = 0;
  s.last = Event{0, 0, 0, kEventTypeNone};
  s.waitTimeoutMs = -1;
  s.folderAnswers.head = s.folderAnswers.count = 0;
  s.saveFileAnswers.head = s.saveFileAnswers.count = 0;
  s.messageButton = kMessageButtonOk;
  s.messageHandler = nullptr;
  for (int i = 0; i < s.logCount; i++) s.log[i] = HeadlessRequest();
  s.logCount = 0;
}

State& Locked(std::unique_lock<std::mutex>& guard) {
  State& s = TheState();
  guard = std::unique_lock<std::mutex>(s.lock);
  return s;
}

// Closes window number and the gadgets in it.
void CloseWindowLocked(State& s, int32_t number) {
  if (s.windows[number].handle == 0) return;
  for (int i = 0; i < kGadgetSlots; i++) {
    if (s.gadgets[i].handle != 0 && s.gadgets[i].window == number) {
      if (s.focus == i) s.focus = kNoFocus;
      ClearGadget(s.gadgets[i]);
    }
  }
  if (s.gadgetWindow == number) s.gadgetWindow = -1;
  ClearWindow(s.windows[number]);
}

// Queues an event and wakes a waiting WaitForEvent. A window event equal to
// the last one still queued is dropped, as in the Win32 back end; a full
// queue drops the new event.
int32_t QueueLocked(State& s, const Event& e) {
  if (e.code != kEventGadget && s.queueCount > 0) {
    const Event& tail = s.queue[(s.queueHead + s.queueCount - 1) % kEventQueueSlots];
    if (tail.code == e.code && tail.window == e.window) return 0;
  }
  if (s.queueCount == kEventQueueSlots) return 0;
  s.queue[(s.queueHead + s.queueCount) % kEventQueueSlots] = e;
  s.queueCount++;
  s.eventArrived.notify_all();
  return 1;
}

int32_t GadgetEventLocked(State& s, int32_t gadget, int32_t type) {
  return QueueLocked(s, Event{kEventGadget, gadget, s.gadgets[gadget].window, type});
}

GadgetRecord* GadgetInUse(State& s, int32_t number) {
  if (!ValidGadgetNumber(number) || s.gadgets[number].handle == 0) return nullptr;
  return &s.gadgets[number];
}

intptr_t AddGadget(int32_t number, int32_t kind, int32_t x, int32_t y, int32_t width,
                   int32_t height, const Text& text) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  if (!ValidGadgetNumber(number) || s.gadgetWindow < 0) return 0;
  GadgetRecord& g = s.gadgets[number];
  if (s.focus == number) s.focus = kNoFocus;
  ClearGadget(g);
  g.handle = s.nextHandle++;
  g.kind = kind;
  g.window = s.gadgetWindow;
  g.order = s.nextOrder++;
  g.text = text;
  g.enabled = 1;
  g.x = x;
  g.y = y;
  g.width = width;
  g.height = height;
  return g.handle;
}

bool TakesTabFocus(const GadgetRecord& g) {
  return g.handle != 0 && g.enabled && (g.kind == kGadgetButton || g.kind == kGadgetTextField);
}

void AnswerPush(AnswerQueue& q, const Text& answer) {
  if (q.count == kAnswerSlots) return;
  q.answers[(q.head + q.count) % kAnswerSlots] = answer;
  q.count++;
}

Text AnswerPop(AnswerQueue& q) {
  if (q.count == 0) return Text();
  Text answer = q.answers[q.head];
  q.answers[q.head] = Text();
  q.head = (q.head + 1) % kAnswerSlots;
  q.count--;
  return answer;
}

void LogLocked(State& s, const HeadlessRequest& r) {
  if (s.logCount < kRequestLogSlots) s.log[s.logCount++] = r;
}

}  // namespace

// ================================================================ API

void InitWindows() { HeadlessReset(); }

void EndWindows() {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  for (int i = 0; i < kWindowSlots; i++) CloseWindowLocked(s, i);
  for (int i = 0; i < kImageSlots; i++) s.images[i] = ImageRecord{0, 0, 0};
}

intptr_t OpenWindowByNumber(int32_t number, int32_t x, int32_t y, int32_t innerWidth,
                            int32_t innerHeight, const Text& title, int32_t flags) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  if (!ValidWindowNumber(number) || innerWidth < 0 || innerHeight < 0) return 0;
  CloseWindowLocked(s, number);
  WindowRecord& w = s.windows[number];
  w.handle = s.nextHandle++;
  w.visible = (flags & kWindowInvisible) ? 0 : 1;
  w.title = title;
  w.x = x;
  w.y = y;
  w.innerWidth = innerWidth;
  w.innerHeight = innerHeight;
  w.flags = flags;
  return w.handle;
}

intptr_t WindowHandleOf(int32_t number) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  return ValidWindowNumber(number) ? s.windows[number].handle : 0;
}

int32_t ShowOrHideWindow(int32_t number, int32_t hide) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  if (!ValidWindowNumber(number) || s.windows[number].handle == 0) return 0;
  s.windows[number].visible = hide ? 0 : 1;
  return 1;
}

intptr_t BeginGadgets(intptr_t window) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  if (window == 0) return 0;
  for (int i = 0; i < kWindowSlots; i++) {
    if (s.windows[i].handle == window) {
      s.gadgetWindow = i;
      return window;
    }
  }
  return 0;
}

intptr_t AddButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const Text& caption) {
  return AddGadget(number, kGadgetButton, x, y, width, height, caption);
}

intptr_t AddTextField(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const Text& text) {
  return AddGadget(number, kGadgetTextField, x, y, width, height, text);
}

intptr_t AddLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                  const Text& text) {
  return AddGadget(number, kGadgetLabel, x, y, width, height, text);
}

intptr_t AddPicture(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    intptr_t image) {
  intptr_t handle = AddGadget(number, kGadgetPicture, x, y, width, height, Text());
  if (handle == 0) return 0;
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  GadgetRecord& g = s.gadgets[number];
  g.image = image;
  // The picture takes the size of a known image.
  for (int i = 0; i < kImageSlots && image != 0; i++) {
    if (s.images[i].handle == image) {
      g.width = s.images[i].width;
      g.height = s.images[i].height;
      break;
    }
  }
  return handle;
}

intptr_t AddProgressBar(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        int32_t minimum, int32_t maximum) {
  intptr_t handle = AddGadget(number, kGadgetProgressBar, x, y, width, height, Text());
  if (handle == 0) return 0;
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  GadgetRecord& g = s.gadgets[number];
  g.minimum = minimum;
  g.maximum = maximum;
  g.value = minimum;
  return handle;
}

int32_t PutGadgetText(int32_t number, const Text& text) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  GadgetRecord* g = GadgetInUse(s, number);
  if (g == nullptr) return 0;
  g->text = text;
  return 1;
}

Text ReadGadgetText(int32_t number) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  GadgetRecord* g = GadgetInUse(s, number);
  return g != nullptr ? g->text : Text();
}

int32_t PutGadgetValue(int32_t number, int32_t value) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  GadgetRecord* g = GadgetInUse(s, number);
  if (g == nullptr) return 0;
  if (g->kind == kGadgetProgressBar) {
    // A progress bar clips its position to its range, as the native one does.
    if (value < g->minimum) value = g->minimum;
    if (value > g->maximum) value = g->maximum;
    g->value = value;
  } else if (g->kind == kGadgetButton) {
    g->value = value != 0 ? 1 : 0;
  }
  return 1;
}

int32_t SetGadgetDisabled(int32_t number, int32_t disabled) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  GadgetRecord* g = GadgetInUse(s, number);
  if (g == nullptr) return 0;
  g->enabled = disabled ? 0 : 1;
  return 1;
}

int32_t WaitForEvent() {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  s.last.type = kEventTypeNone;
  if (s.waitTimeoutMs < 0) {
    s.eventArrived.wait(guard, [&s] { return s.queueCount > 0; });
  } else if (!s.eventArrived.wait_for(guard, std::chrono::milliseconds(s.waitTimeoutMs),
                                      [&s] { return s.queueCount > 0; })) {
    return 0;
  }
  Event e = s.queue[s.queueHead];
  s.queueHead = (s.queueHead + 1) % kEventQueueSlots;
  s.queueCount--;
  s.last.code = e.code;
  s.last.window = e.window;
  s.last.type = e.type;
  if (e.code == kEventGadget) s.last.gadget = e.gadget;
  return e.code;
}

int32_t LastEventGadget() {
  std::unique_lock<std::mutex> guard;
  return Locked(guard).last.gadget;
}

int32_t LastEventWindow() {
  std::unique_lock<std::mutex> guard;
  return Locked(guard).last.window;
}

int32_t LastEventType() {
  std::unique_lock<std::mutex> guard;
  return Locked(guard).last.type;
}

intptr_t ImageFromMemory(int32_t number, const void* bmp, int32_t bytes) {
  BitmapLayout layout;
  if (!ValidImageNumber(number) || !ReadBitmapLayout(bmp, bytes, &layout)) return 0;
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  ImageRecord fresh{s.nextHandle++, layout.width, layout.rows};
  // Pictures that showed the old image show the new one, at its size.
  for (int i = 0; i < kGadgetSlots && s.images[number].handle != 0; i++) {
    GadgetRecord& g = s.gadgets[i];
    if (g.handle != 0 && g.kind == kGadgetPicture && g.image == s.images[number].handle) {
      g.image = fresh.handle;
      g.width = fresh.width;
      g.height = fresh.height;
    }
  }
  s.images[number] = fresh;
  return fresh.handle;
}

intptr_t ImageHandleOf(int32_t number) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  return ValidImageNumber(number) ? s.images[number].handle : 0;
}

int32_t ShowMessage(const Text& title, const Text& text, int32_t flags) {
  HeadlessMessageHandler handler;
  int32_t button;
  {
    std::unique_lock<std::mutex> guard;
    State& s = Locked(guard);
    handler = s.messageHandler;
    button = s.messageButton;
  }
  // The handler runs unlocked: it may use the layer itself.
  if (handler != nullptr) button = handler(title, text, flags);
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  HeadlessRequest r;
  r.kind = kRequesterMessage;
  r.title = title;
  r.first = text;
  r.number = flags;
  r.button = button;
  LogLocked(s, r);
  return button;
}

Text AskForFolder(const Text& title, const Text& initialPath) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  HeadlessRequest r;
  r.kind = kRequesterFolder;
  r.title = title;
  r.first = initialPath;
  r.number = 0;
  r.button = 0;
  // A chosen folder always ends in "\", as the real chooser's does.
  Text answer = AnswerPop(s.folderAnswers);
  if (!answer.IsEmpty() && answer.Last() != '\\') answer += '\\';
  r.answer = answer;
  LogLocked(s, r);
  return answer;
}

Text AskForSaveFile(const Text& title, const Text& patterns) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  HeadlessRequest r;
  r.kind = kRequesterSaveFile;
  r.title = title;
  r.first = patterns;
  r.number = 0;
  r.button = 0;
  r.answer = AnswerPop(s.saveFileAnswers);
  LogLocked(s, r);
  return r.answer;
}

// ======================================================= test controls

void HeadlessReset() {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  ResetLocked(s);
}

HeadlessGadget HeadlessGadgetState(int32_t number) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  HeadlessGadget out = HeadlessGadget();
  GadgetRecord* g = GadgetInUse(s, number);
  if (g == nullptr) return out;
  out.exists = 1;
  out.kind = g->kind;
  out.window = g->window;
  out.text = g->text;
  out.value = g->value;
  out.minimum = g->minimum;
  out.maximum = g->maximum;
  out.enabled = g->enabled;
  out.x = g->x;
  out.y = g->y;
  out.width = g->width;
  out.height = g->height;
  out.image = g->image;
  return out;
}

HeadlessWindow HeadlessWindowState(int32_t number) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  HeadlessWindow out = HeadlessWindow();
  if (!ValidWindowNumber(number) || s.windows[number].handle == 0) return out;
  const WindowRecord& w = s.windows[number];
  out.exists = 1;
  out.visible = w.visible;
  out.title = w.title;
  out.x = w.x;
  out.y = w.y;
  out.innerWidth = w.innerWidth;
  out.innerHeight = w.innerHeight;
  out.flags = w.flags;
  return out;
}

int32_t HeadlessFocusedGadget() {
  std::unique_lock<std::mutex> guard;
  return Locked(guard).focus;
}

int32_t HeadlessPostGadgetEvent(int32_t gadget, int32_t type) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  if (!ValidGadgetNumber(gadget)) return 0;
  return GadgetEventLocked(s, gadget, type);
}

int32_t HeadlessPostWindowEvent(int32_t window, int32_t code) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  if (!ValidWindowNumber(window) || s.windows[window].handle == 0) return 0;
  return QueueLocked(s, Event{code, 0, window, kEventTypeNone});
}

int32_t HeadlessClick(int32_t gadget) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  GadgetRecord* g = GadgetInUse(s, gadget);
  if (g == nullptr || !g->enabled) return 0;
  if (g->kind != kGadgetButton && g->kind != kGadgetPicture) return 0;
  return GadgetEventLocked(s, gadget, kEventTypeClick);
}

int32_t HeadlessType(int32_t gadget, const Text& text) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  GadgetRecord* g = GadgetInUse(s, gadget);
  if (g == nullptr || !g->enabled || g->kind != kGadgetTextField) return 0;
  g->text = text;
  return GadgetEventLocked(s, gadget, kEventTypeTextChanged);
}

int32_t HeadlessPressTab(int32_t forward) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  int32_t window = s.focus != kNoFocus ? s.gadgets[s.focus].window : s.gadgetWindow;
  if (window < 0) return 0;
  // Next (or previous) focusable gadget of the window in creation order,
  // wrapping around; with no focus yet, the first (or last).
  uint32_t current = s.focus != kNoFocus ? s.gadgets[s.focus].order : 0;
  int32_t first = -1, last = -1, after = -1, before = -1;
  for (int i = 0; i < kGadgetSlots; i++) {
    const GadgetRecord& g = s.gadgets[i];
    if (i == s.focus || g.window != window || !TakesTabFocus(g)) continue;
    if (first < 0 || g.order < s.gadgets[first].order) first = i;
    if (last < 0 || g.order > s.gadgets[last].order) last = i;
    if (g.order > current && (after < 0 || g.order < s.gadgets[after].order)) after = i;
    if (current != 0 && g.order < current && (before < 0 || g.order > s.gadgets[before].order)) {
      before = i;
    }
  }
  int32_t target = forward ? (after >= 0 ? after : first) : (before >= 0 ? before : last);
  if (target < 0) return 0;
  int32_t old = s.focus;
  s.focus = target;
  if (old != kNoFocus && s.gadgets[old].kind == kGadgetTextField) {
    GadgetEventLocked(s, old, kEventTypeFocusLost);
  }
  if (s.gadgets[target].kind == kGadgetTextField) {
    GadgetEventLocked(s, target, kEventTypeFocus);
  }
  return 1;
}

void HeadlessSetWaitTimeout(int32_t timeoutMs) {
  std::unique_lock<std::mutex> guard;
  Locked(guard).waitTimeoutMs = timeoutMs;
}

void HeadlessAnswerFolder(const Text& answer) {
  std::unique_lock<std::mutex> guard;
  AnswerPush(Locked(guard).folderAnswers, answer);
}

void HeadlessAnswerSaveFile(const Text& answer) {
  std::unique_lock<std::mutex> guard;
  AnswerPush(Locked(guard).saveFileAnswers, answer);
}

void HeadlessSetMessageButton(int32_t button) {
  std::unique_lock<std::mutex> guard;
  Locked(guard).messageButton = button;
}

void HeadlessSetMessageHandler(HeadlessMessageHandler handler) {
  std::unique_lock<std::mutex> guard;
  Locked(guard).messageHandler = handler;
}

int32_t HeadlessRequestCount() {
  std::unique_lock<std::mutex> guard;
  return Locked(guard).logCount;
}

HeadlessRequest HeadlessRequestAt(int32_t index) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  if (index < 0 || index >= s.logCount) return HeadlessRequest();
  return s.log[index];
}

int32_t HeadlessMessageCount() {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  int32_t count = 0;
  for (int i = 0; i < s.logCount; i++) count += s.log[i].kind == kRequesterMessage;
  return count;
}

HeadlessRequest HeadlessMessageAt(int32_t index) {
  std::unique_lock<std::mutex> guard;
  State& s = Locked(guard);
  for (int i = 0; i < s.logCount; i++) {
    if (s.log[i].kind != kRequesterMessage) continue;
    if (index-- == 0) return s.log[i];
  }
  return HeadlessRequest();
}
