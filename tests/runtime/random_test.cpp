// Tests of the random generator: the exact RANROT type B sequence after a
// known seed, the range of RandomUpTo, and the negative-max result.
#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

#include "runtime/random.h"

namespace {

// Expected values below were computed independently of the code under test
// with a short Python script (exact big-integer arithmetic for the 96-bit
// product), following the generator's definition: 34 seed words in memory
// order by x = x * 0xAC564B05 + 1, i = 0, j = 10, 31 discarded steps, then
// result = (R * (max + 1)) >> 64.

TEST(RandomTest, SequenceAfterSeedMatchesDefinition) {
  const int32_t expected[8] = {599430850, 1525901252, 1422587746, 732768503,
                               1256297441, 591290948, 649155423, 1514329541};
  SeedRandom(12345);
  for (int k = 0; k < 8; k++) EXPECT_EQ(expected[k], RandomUpTo(2147483647)) << "draw " << k;
}

TEST(RandomTest, SameSeedGivesSameSequenceForSmallRange) {
  const int32_t expected[8] = {27, 71, 66, 34, 58, 27, 30, 70};
  SeedRandom(12345);
  for (int k = 0; k < 8; k++) EXPECT_EQ(expected[k], RandomUpTo(99)) << "draw " << k;
}

TEST(RandomTest, SeedZeroSequence) {
  const int32_t expected[4] = {1170769584, 1683484736, 1418143767, 813114335};
  SeedRandom(0);
  for (int k = 0; k < 4; k++) EXPECT_EQ(expected[k], RandomUpTo(2147483647)) << "draw " << k;
}

TEST(RandomTest, MixedRangesFollowTheFullProduct) {
  const int32_t maxes[12] = {0, 1, 6, 99, 1000, 65535, 2147483646, 2147483647, 99, 99, 12, 1};
  const int32_t expected[12] = {0, 1, 1, 45, 337, 44932, 2028585293, 200171162, 86, 25, 11, 1};
  SeedRandom(0xDEADBEEFu);
  for (int k = 0; k < 12; k++) EXPECT_EQ(expected[k], RandomUpTo(maxes[k])) << "max " << maxes[k];
}

TEST(RandomTest, LongRunChecksumMatchesDefinition) {
  // 10,000 draws alternating max 999999999 and 2147483646, folded as
  // sum = sum * 31 + value modulo 2^64 (same Python script).
  SeedRandom(2006);
  uint64_t sum = 0;
  for (int k = 0; k < 10000; k++) {
    int32_t value = RandomUpTo(k % 2 == 0 ? 999999999 : 2147483646);
    sum = sum * 31u + static_cast<uint64_t>(value);
  }
  EXPECT_EQ(0x627cf75c5dd2f16ull, sum);
}

TEST(RandomTest, UpTo99StaysInRangeAndCoversIt) {
  SeedRandom(424242);
  std::vector<int> seen(100, 0);
  for (int k = 0; k < 100000; k++) {
    int32_t value = RandomUpTo(99);
    ASSERT_GE(value, 0);
    ASSERT_LE(value, 99);
    seen[value]++;
  }
  // 1,000 expected per value; a fair generator stays far from these bounds.
  for (int v = 0; v < 100; v++) {
    EXPECT_GT(seen[v], 700) << "value " << v;
    EXPECT_LT(seen[v], 1300) << "value " << v;
  }
}

TEST(RandomTest, EdgeRanges) {
  SeedRandom(7);
  for (int k = 0; k < 1000; k++) ASSERT_EQ(0, RandomUpTo(0));
  bool sawZero = false, sawOne = false;
  for (int k = 0; k < 1000; k++) {
    int32_t value = RandomUpTo(1);
    ASSERT_TRUE(value == 0 || value == 1);
    sawZero |= value == 0;
    sawOne |= value == 1;
  }
  EXPECT_TRUE(sawZero && sawOne);
  for (int k = 0; k < 1000; k++) ASSERT_GE(RandomUpTo(2147483647), 0);
}

TEST(RandomTest, NegativeMaxGivesSmallestInteger) {
  EXPECT_EQ(INT32_MIN, RandomUpTo(-1));
  EXPECT_EQ(INT32_MIN, RandomUpTo(INT32_MIN));
}

}  // namespace
