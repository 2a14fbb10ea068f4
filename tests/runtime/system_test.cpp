// Tests of the runtime's start-up and exit: InitRuntime may run twice, and
// EndRuntime flushes and closes every file and ends every listing; the clock
// moves and pauses return.
#include <gtest/gtest.h>

#include <string>

#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/memory.h"
#include "runtime/system.h"
#include "tests/runtime/test_support.h"

namespace {

using test_support::PatternBytes;
using test_support::ReadWholeFile;
using test_support::TempFolder;

TEST(SystemTest, InitRuntimeTwiceIsHarmless) {
  InitRuntime();
  InitRuntime();
  void* block = AllocateBlock(100);
  ASSERT_NE(nullptr, block);
  FreeBlock(block);
}

TEST(SystemTest, EndRuntimeFlushesAndClosesEverything) {
  InitRuntime();
  TempFolder folder;
  ASSERT_TRUE(folder.Ok());
  std::vector<unsigned char> small = PatternBytes(100, 3);
  std::vector<unsigned char> large = PatternBytes(9000, 4);
  std::string numbered = folder.Join("numbered");
  std::string any = folder.Join("any");
  ASSERT_NE(0, CreateFileForWriting(7, numbered.c_str()));
  ASSERT_EQ(100, WriteBytes(7, small.data(), 100));
  intptr_t id = CreateFileForWriting(kAnyNumber, any.c_str());
  ASSERT_NE(0, id);
  ASSERT_EQ(9000, WriteBytes(id, large.data(), 9000));
  ASSERT_EQ(4, WriteInt32(id, 1));  // waits in the buffer
  ASSERT_NE(0, OpenDirectoryListing(2, folder.Path().c_str(), ""));
  ASSERT_NE(0, NextEntry(2));

  EndRuntime();
  EXPECT_EQ(small, ReadWholeFile(numbered));
  std::vector<unsigned char> expected = large;
  expected.insert(expected.end(), {1, 0, 0, 0});
  EXPECT_EQ(expected, ReadWholeFile(any));
  EXPECT_EQ(-1, FileLength(7));
  EXPECT_EQ(-1, FileLength(id));
  EXPECT_EQ(0, NextEntry(2));
  // Closed: the files can go (Windows deletes no open file).
  EXPECT_NE(0, RemoveFile(numbered.c_str()));
  EXPECT_NE(0, RemoveFile(any.c_str()));

  // A second end does nothing; the runtime starts again.
  EndRuntime();
  InitRuntime();
  void* block = AllocateBlock(10);
  ASSERT_NE(nullptr, block);
  FreeBlock(block);
  ASSERT_NE(0, CreateFileForWriting(7, numbered.c_str()));
  CloseFileNumber(7);
}

TEST(SystemTest, PausesReturnAndTheClockMoves) {
  PauseMilliseconds(0);
  PauseMilliseconds(-1);  // must not mean "for ever"
  PauseMilliseconds(INT32_MIN);
  uint32_t before = TickCount();
  PauseMilliseconds(30);
  uint32_t elapsed = TickCount() - before;
  // Only that the pause waited: tick counts are coarse on Windows.
  EXPECT_GE(elapsed, 10u);
  EXPECT_LT(elapsed, 60000u);
}

}  // namespace
