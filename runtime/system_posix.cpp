// POSIX back end of the clock:
// CLOCK_MONOTONIC for the tick count, nanosleep for pauses.
#include <errno.h>
#include <time.h>

#include "runtime/system.h"

namespace {
const int32_t kMillisecondsPerSecond = 1000;
const long kNanosecondsPerMillisecond = 1000000;
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
