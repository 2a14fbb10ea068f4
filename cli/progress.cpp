// The progress line: module state for the one line of the running command,
// drawn on stderr. See progress.h.
#include "cli/progress.h"

#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

const int32_t kMaxBarCells = 30;
const int32_t kLineBytes = 1024;  // the longest line drawn, in bytes
const int64_t kKibiBytes = 1024;
const int64_t kNanosecondsPerMs = 1000000;

int gShown = 0;
int32_t gUnit = 0;
int64_t gDone = 0;
int64_t gTotal = 0;
Text gName;
int64_t gDrawnAtMs = -1;          // when the line was last drawn; -1: not yet
int32_t gDrawnColumns = 0;        // the columns the line on screen takes, 0 when clear
std::atomic<int> gLineBroken{0};  // set once the interrupt has ended the line
std::atomic_flag gDrawing = ATOMIC_FLAG_INIT;
const char* volatile gInterruptLine = nullptr;  // what SayInterrupted writes

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000 + now.tv_nsec / kNanosecondsPerMs;
}

int32_t TerminalColumns() {
  winsize size;
  if (ioctl(2, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kProgressDefaultColumns;
  return size.ws_col;
}

// "12.3 MiB": bytes in the largest binary unit that keeps a number from 1.
void FormatBytes(int64_t bytes, char* out, int outBytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < kKibiBytes) {
    snprintf(out, outBytes, "%lld B", static_cast<long long>(bytes));
    return;
  }
  double value = static_cast<double>(bytes) / kKibiBytes;
  int unit = 0;
  while (value >= kKibiBytes && unit < 3) {
    value /= kKibiBytes;
    ++unit;
  }
  snprintf(out, outBytes, "%.1f %s", value, kUnits[unit]);
}

// The columns a UTF-8 character takes from its lead byte: 2 for the
// three- and four-byte forms from U+1000 on (most wide scripts), else 1.
// Counting a narrow one as 2 only shortens the line.
int32_t LeadColumns(unsigned char lead) { return lead >= 0xE1 ? 2 : 1; }

// Appends what fits of text into room columns; the columns used.
int32_t AppendFitting(Text* line, const Text& text, int32_t room) {
  const char* bytes = text.c_str();
  int32_t used = 0;
  int32_t start = 0;
  int32_t length = text.Length();
  int32_t i = 0;
  while (i < length) {
    unsigned char lead = static_cast<unsigned char>(bytes[i]);
    int32_t columns = (lead & 0xC0) == 0x80 ? 0 : LeadColumns(lead);
    if (used + columns > room) break;
    used += columns;
    ++i;
    while (i < length && (static_cast<unsigned char>(bytes[i]) & 0xC0) == 0x80) ++i;
  }
  *line += Text(bytes + start, i);
  return used;
}

void WriteAll(const char* bytes, int32_t length) {
  while (length > 0) {
    ssize_t written = write(2, bytes, length);
    if (written <= 0) return;
    bytes += written;
    length -= static_cast<int32_t>(written);
  }
}

// Overwrites the line on screen with text (columns wide): the text, spaces
// over what the last line had beyond it, and the cursor back behind the text.
void DrawLine(const Text& text, int32_t columns) {
  char padded[kLineBytes * 3];
  const int32_t limit = static_cast<int32_t>(sizeof padded) - 1;
  const char* bytes = text.c_str();
  int32_t length = 0;
  padded[length++] = '\r';
  for (int32_t i = 0; i < text.Length() && length < limit; ++i) padded[length++] = bytes[i];
  if (columns < gDrawnColumns) {
    for (int32_t i = columns; i < gDrawnColumns && length < limit; ++i) padded[length++] = ' ';
    padded[length++] = '\r';
    for (int32_t i = 0; i < text.Length() && length < limit; ++i) padded[length++] = bytes[i];
  }
  WriteAll(padded, length);
  gDrawnColumns = columns;
}

int32_t TextColumns(const Text& text) {
  int32_t columns = 0;
  for (int32_t i = 0; i < text.Length(); ++i) {
    unsigned char byte = static_cast<unsigned char>(text.At(i));
    if ((byte & 0xC0) != 0x80) columns += LeadColumns(byte);
  }
  return columns;
}

}  // namespace

Text ProgressLine(int32_t columns, int32_t unit, int64_t done, int64_t total, const Text& name) {
  int32_t room = columns - 1;  // the last column would wrap on some terminals
  if (room > kLineBytes / 4) room = kLineBytes / 4;
  if (done > total) done = total;
  int32_t percent = total > 0 ? static_cast<int32_t>(done * 100 / total) : 0;
  char head[128];
  int32_t cells = room / 4 < kMaxBarCells ? room / 4 : kMaxBarCells;
  int32_t used = snprintf(head, sizeof head, "%3d%% ", static_cast<int>(percent));
  Text line(head);
  if (cells >= 4) {
    int32_t filled = total > 0 ? static_cast<int32_t>(done * cells / total) : 0;
    line += "[";
    for (int32_t i = 0; i < cells; ++i) line += i < filled ? "#" : " ";
    line += "] ";
    used += cells + 3;
  }
  char count[96] = "";
  if (unit == kProgressBytes) {
    char doneText[32];
    char totalText[32];
    FormatBytes(done, doneText, sizeof doneText);
    FormatBytes(total, totalText, sizeof totalText);
    snprintf(count, sizeof count, "%s of %s ", doneText, totalText);
  } else if (unit == kProgressEntries) {
    snprintf(count, sizeof count, "%lld/%lld ", static_cast<long long>(done),
             static_cast<long long>(total));
  }
  used += AppendFitting(&line, count, room - used);
  if (used < room) AppendFitting(&line, name, room - used);
  return line;
}

void StartProgress(int shown) {
  gShown = shown;
  gUnit = 0;
  gDone = 0;
  gTotal = 0;
  gName = Text();
  gDrawnAtMs = -1;
  gDrawnColumns = 0;
  gLineBroken = 0;
}

void ShowProgress(int32_t unit, int64_t done, int64_t total, const Text& name) {
  if (!gShown) return;
  if (gDrawing.test_and_set()) return;  // another thread is drawing
  gUnit = unit;
  gDone = done;
  gTotal = total;
  if (!name.IsEmpty()) gName = name;
  int64_t now = NowMs();
  if (gDrawnAtMs < 0 || now - gDrawnAtMs >= kProgressRedrawMs || (total > 0 && done >= total)) {
    Text line = ProgressLine(TerminalColumns(), gUnit, gDone, gTotal, gName);
    DrawLine(line, TextColumns(line));
    gDrawnAtMs = now;
  }
  gDrawing.clear();
}

void ClearProgress() {
  if (!gShown || gDrawnColumns == 0) return;
  while (gDrawing.test_and_set()) {
  }
  DrawLine(Text(), 0);
  gDrawnAtMs = -1;  // the next update draws at once
  gDrawing.clear();
}

void EndProgress() {
  ClearProgress();
  gShown = 0;
}

void SetInterruptLine(const char* line) { gInterruptLine = line; }

void SayInterrupted() {
  BreakProgressLine();
  const char* line = gInterruptLine;
  if (line != nullptr) WriteAll(line, static_cast<int32_t>(strlen(line)));
}

void BreakProgressLine() {
  if (gShown && gDrawnColumns > 0 && !gLineBroken.exchange(1)) {
    static const char kBreak[] = "\n";
    WriteAll(kBreak, 1);
  }
}
