// POSIX back end of the system's random bytes: getrandom(2), falling back to
// the clock, the process number and a count of calls where the kernel has
// no getrandom. Small requests are served from a pool per thread.
#include <errno.h>
#include <pthread.h>
#include <string.h>
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

// Fills count bytes from getrandom; the count filled.
int32_t FillFromKernel(unsigned char* out, int32_t count) {
  int32_t filled = 0;
  while (filled < count) {
    ssize_t got = getrandom(out + filled, static_cast<size_t>(count - filled), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    filled += static_cast<int32_t>(got);
  }
  return filled;
}

// Every part file a run creates draws a few bytes for its name; a system
// call each costs more than the rest of the name. So small requests come
// from a pool of the kernel's bytes that each thread fetches at once; each
// byte is handed out once and wiped. A forked child empties its pool, so
// that it never hands out the bytes its parent will.
const int32_t kPoolBytes = 256;
const int32_t kPooledRequestBytes = 32;

struct RandomPool {
  unsigned char bytes[kPoolBytes];
  int32_t left;  // the unused bytes at the end of bytes
};
thread_local RandomPool tPool;

void EmptyPoolInChild() { memset(&tPool, 0, sizeof tPool); }

const int gPoolForkHandler = pthread_atfork(nullptr, nullptr, EmptyPoolInChild);

// Takes count bytes from the pool, fetching it anew when it holds fewer. 1
// on success.
int TakeFromPool(unsigned char* out, int32_t count) {
  (void)gPoolForkHandler;
  RandomPool* pool = &tPool;
  if (pool->left < count) {
    if (FillFromKernel(pool->bytes, kPoolBytes) != kPoolBytes) {
      pool->left = 0;
      return 0;
    }
    pool->left = kPoolBytes;
  }
  unsigned char* from = pool->bytes + (kPoolBytes - pool->left);
  memcpy(out, from, static_cast<size_t>(count));
  memset(from, 0, static_cast<size_t>(count));
  pool->left -= count;
  return 1;
}

}  // namespace

int FillWithSystemRandom(void* bytes, int32_t count) {
  unsigned char* out = static_cast<unsigned char*>(bytes);
  if (count <= 0) return 1;
  if (count <= kPooledRequestBytes ? TakeFromPool(out, count)
                                   : FillFromKernel(out, count) == count) {
    return 1;
  }
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
