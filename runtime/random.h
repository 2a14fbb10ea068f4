// Random numbers: RANROT type B over 17 pairs of 32-bit words, which seeds
// itself from the tick count at its first use; and bytes from the system's
// own source of numbers nobody can foresee, for names that must not be
// guessed.
#ifndef VEZOVUD_RUNTIME_RANDOM_H
#define VEZOVUD_RUNTIME_RANDOM_H

#include <stdint.h>

// A uniformly distributed integer from 0 to max inclusive; -2147483648 for a
// negative max.
int32_t RandomUpTo(int32_t max);

// Seeds the generator as its first use would with this tick count. For tests
// that need a known sequence.
void SeedRandom(uint32_t tick);

// Fills count bytes at bytes from the system's source of unpredictable
// numbers (getrandom on Linux, RtlGenRandom on Windows), which differ in
// every call and every process. Any thread, at any time. 1 on success; 0
// when the system gives none: the bytes then mix the clock, the process and
// a count of calls, still different in every call but not secret.
int FillWithSystemRandom(void* bytes, int32_t count);

#endif
