// Win32 back end of the system's random bytes: RtlGenRandom (advapi32's
// SystemFunction036), falling back to the tick count, the process and a
// count of calls.
#include <windows.h>
#include <ntsecapi.h>

#include "runtime/random.h"

namespace {

// Calls so far, for the fallback: no two calls of one process mix alike.
LONG gFallbackCalls = 0;

// Spreads every bit of x over the result (a 32-bit finaliser of MurmurHash3's kind).
uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  x *= 0xC2B2AE35u;
  return x ^ (x >> 16);
}

}  // namespace

int FillWithSystemRandom(void* bytes, int32_t count) {
  if (count <= 0) return 1;
  if (RtlGenRandom(bytes, static_cast<ULONG>(count))) return 1;
  unsigned char* out = static_cast<unsigned char*>(bytes);
  uint32_t state = Mix(GetTickCount()) ^ Mix(GetCurrentProcessId() + 0x9E3779B9u) ^
                   Mix(static_cast<uint32_t>(InterlockedIncrement(&gFallbackCalls)));
  for (int32_t i = 0; i < count; ++i) {
    state = Mix(state + 0x9E3779B9u);
    out[i] = static_cast<unsigned char>(state);
  }
  return 0;
}
