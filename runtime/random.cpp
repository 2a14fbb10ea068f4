// The random generator: RANROT type B over 17 pairs of 32-bit words, seeded
// from the tick count at its first use. The state is process-wide and
// unlocked; the programs draw numbers from one thread at a time.
#include "runtime/random.h"

#include "runtime/system.h"

namespace {

const int kPairCount = 17;
const int kSecondIndexStart = 10;
const int kWarmUpSteps = 31;
const uint32_t kSeedMultiplier = 0xAC564B05u;
const int kFirstRotateBits = 19;
const int kSecondRotateBits = 27;

struct WordPair {
  uint32_t first;
  uint32_t second;
};

struct RandomState {
  WordPair pairs[kPairCount];
  int i;
  int j;
  int seeded;
};

RandomState gRandom;

uint32_t RotateLeft(uint32_t x, int bits) { return (x << bits) | (x >> (32 - bits)); }

// One step of the generator: a as the high half, b as the low half.
uint64_t Step() {
  WordPair& pi = gRandom.pairs[gRandom.i];
  const WordPair& pj = gRandom.pairs[gRandom.j];
  uint32_t a = RotateLeft(pi.first, kFirstRotateBits) + pj.first;
  uint32_t b = RotateLeft(pi.second, kSecondRotateBits) + pj.second;
  pi.first = b;
  pi.second = a;
  gRandom.i = gRandom.i == 0 ? kPairCount - 1 : gRandom.i - 1;
  gRandom.j = gRandom.j == 0 ? kPairCount - 1 : gRandom.j - 1;
  return (static_cast<uint64_t>(a) << 32) | b;
}

}  // namespace

void SeedRandom(uint32_t tick) {
  uint32_t x = tick;
  // The 34 state words in memory order: pair 0 first, pair 0 second, ...
  for (int k = 0; k < kPairCount; k++) {
    x = x * kSeedMultiplier + 1;
    gRandom.pairs[k].first = x;
    x = x * kSeedMultiplier + 1;
    gRandom.pairs[k].second = x;
  }
  gRandom.i = 0;
  gRandom.j = kSecondIndexStart;
  for (int k = 0; k < kWarmUpSteps; k++) Step();
  gRandom.seeded = 1;
}

int32_t RandomUpTo(int32_t max) {
  if (max < 0) return INT32_MIN;
  if (!gRandom.seeded) SeedRandom(TickCount());
  uint64_t r = Step();
  uint64_t range = static_cast<uint64_t>(max) + 1;  // at most 2^31
  // The high 32 bits of the 96-bit product r * range, from two 64-bit
  // products: (a * range + (b * range >> 32)) >> 32. Neither sum overflows
  // because range <= 2^31.
  uint64_t high = (r >> 32) * range;
  uint64_t low = (r & 0xFFFFFFFFu) * range;
  return static_cast<int32_t>((high + (low >> 32)) >> 32);
}
