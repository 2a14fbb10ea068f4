// POSIX back end of the clock and the error texts:
// CLOCK_MONOTONIC for the tick count, nanosleep for pauses, errno and
// strerror_r for the reasons of failed calls.
#include <errno.h>
#include <string.h>
#include <time.h>

#include "runtime/system.h"

namespace {
const int32_t kMillisecondsPerSecond = 1000;
const long kNanosecondsPerMillisecond = 1000000;
const int kErrorTextBytes = 256;

// strerror_r comes in two kinds: the GNU one returns the text, which may or
// may not be in the buffer; the POSIX one fills the buffer and returns 0.
[[maybe_unused]] const char* ErrorTextOf(char* text, const char*) { return text; }
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
  return result == 0 ? buffer : "";
}
}  // namespace

uint32_t TickCount() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * kMillisecondsPerSecond +
                static_cast<uint64_t>(now.tv_nsec / kNanosecondsPerMillisecond);
  return static_cast<uint32_t>(ms);
}

void PauseMilliseconds(int32_t ms) {
  if (ms <= 0) return;
  struct timespec wait;
  wait.tv_sec = ms / kMillisecondsPerSecond;
  wait.tv_nsec = (ms % kMillisecondsPerSecond) * kNanosecondsPerMillisecond;
  // A signal cuts the sleep short; sleep on for what is left.
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

int32_t LastSystemError() { return errno; }

Text SystemErrorText(int32_t code) {
  if (code == 0) return Text();
  char buffer[kErrorTextBytes];
  buffer[0] = 0;
  Text text = ErrorTextOf(strerror_r(code, buffer, sizeof buffer), buffer);
  if (text.IsEmpty()) text = Text("error ") + DecimalText(code);
  return text;
}

int IsOutOfOpenFiles(int32_t code) { return code == EMFILE || code == ENFILE ? 1 : 0; }

int IsDiskFull(int32_t code) { return code == ENOSPC || code == EDQUOT ? 1 : 0; }
