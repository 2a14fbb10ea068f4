// Tests of memory blocks: refused sizes, zero fill (also of reused memory),
// blocks that do not overlap, and allocation from several threads at once.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "runtime/memory.h"
#include "runtime/system.h"

namespace {

bool AllZero(const void* block, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(block);
  return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { InitRuntime(); }
};

TEST_F(MemoryTest, SizesOfNothingOrTooMuchGiveNoBlock) {
  const int64_t sizes[] = {0, -1, -4096, INT64_MIN, INT64_MAX, int64_t(1) << 62,
                           int64_t(1) << 48};
  for (int64_t size : sizes) {
    void* block = AllocateBlock(size);
    EXPECT_EQ(nullptr, block) << "size " << size;
    FreeBlock(block);
  }
  FreeBlock(nullptr);
}

TEST_F(MemoryTest, BlocksAreZeroFilledEvenWhenMemoryIsReused) {
  const int64_t sizes[] = {1, 7, 4095, 4096, 4097, 102400, 1 << 20};
  for (int round = 0; round < 3; round++) {
    for (int64_t size : sizes) {
      unsigned char* block = static_cast<unsigned char*>(AllocateBlock(size));
      ASSERT_NE(nullptr, block) << "size " << size;
      EXPECT_TRUE(AllZero(block, static_cast<size_t>(size))) << "size " << size << ", round " << round;
      // Dirty it, so that a block made from the same memory must be cleared.
      memset(block, 0xA5, static_cast<size_t>(size));
      FreeBlock(block);
    }
  }
}

TEST_F(MemoryTest, LiveBlocksDoNotOverlap) {
  std::vector<unsigned char*> blocks;
  for (int i = 0; i < 200; i++) {
    size_t size = 1 + static_cast<size_t>(i) * 37;
    unsigned char* block = static_cast<unsigned char*>(AllocateBlock(static_cast<int64_t>(size)));
    ASSERT_NE(nullptr, block);
    memset(block, i & 0xFF, size);
    blocks.push_back(block);
  }
  for (int i = 0; i < 200; i++) {
    size_t size = 1 + static_cast<size_t>(i) * 37;
    unsigned char* block = blocks[static_cast<size_t>(i)];
    ASSERT_TRUE(std::all_of(block, block + size, [i](unsigned char b) { return b == (i & 0xFF); }))
        << "block " << i << " was overwritten";
    FreeBlock(block);
  }
}

TEST_F(MemoryTest, ThreadsAllocateAndFreeAtOnce) {
  const int kThreads = 4;
  const int kRounds = 2000;
  std::vector<int> faults(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([t, &faults] {
      for (int round = 0; round < kRounds; round++) {
        size_t size = 16 + static_cast<size_t>((round * 131 + t * 17) % 5000);
        unsigned char* block = static_cast<unsigned char*>(AllocateBlock(static_cast<int64_t>(size)));
        if (!block || !AllZero(block, size)) {
          faults[static_cast<size_t>(t)]++;
          continue;
        }
        memset(block, t + 1, size);
        if (!std::all_of(block, block + size, [t](unsigned char b) { return b == t + 1; }))
          faults[static_cast<size_t>(t)]++;
        FreeBlock(block);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; t++) EXPECT_EQ(0, faults[static_cast<size_t>(t)]) << "thread " << t;
}

}  // namespace
