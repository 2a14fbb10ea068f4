// Random numbers: RANROT type B over 17 pairs of 32-bit words. The generator
// seeds itself from the tick count at its first use.
#ifndef VEZOVUD_RUNTIME_RANDOM_H
#define VEZOVUD_RUNTIME_RANDOM_H

#include <stdint.h>

// A uniformly distributed integer from 0 to max inclusive; -2147483648 for a
// negative max.
int32_t RandomUpTo(int32_t max);

// Seeds the generator as its first use would with this tick count. For tests
// that need a known sequence.
void SeedRandom(uint32_t tick);

#endif
