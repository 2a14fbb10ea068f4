// POSIX back end of the system's random bytes: getrandom(2), falling back to
// the clock, the process number and a count of calls where the kernel has
// no getrandom.
#include <errno.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include "runtime/random.h"

namespace {

// Calls so far, for the fallback: no two calls of one process mix alike.
uint64_t gFallbackCalls = 0;

// One step of the SplitMix64 sequence: spreads every bit of x over the result.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

int FillWithSystemRandom(void* bytes, int32_t count) {
  unsigned char* out = static_cast<unsigned char*>(bytes);
  int32_t filled = 0;
  while (filled < count) {
    ssize_t got = getrandom(out + filled, static_cast<size_t>(count - filled), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    filled += static_cast<int32_t>(got);
  }
  if (filled == count) return 1;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t state = Mix(static_cast<uint64_t>(now.tv_sec) * 1000000000ull +
                       static_cast<uint64_t>(now.tv_nsec)) ^
                   Mix(static_cast<uint64_t>(getpid())) ^
                   Mix(__atomic_add_fetch(&gFallbackCalls, 1, __ATOMIC_RELAXED));
  for (int32_t i = 0; i < count; ++i) {
    state = Mix(state);
    out[i] = static_cast<unsigned char>(state);
  }
  return 0;
}
