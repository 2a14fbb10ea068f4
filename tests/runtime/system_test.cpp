// The runtime's process-wide services: start and end, memory, RANROT B, threads, locks.
#include <gtest/gtest.h>

#include <string.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "runtime/directory.h"
#include "runtime/memory.h"
#include "runtime/process.h"
#include "runtime/random.h"
#include "runtime/system.h"
#include "runtime/thread.h"
#include "support/handshake.h"
#include "tests/runtime/test_support.h"

namespace {

using namespace test_support;

// EndRuntime flushes and closes every file and listing; starting or ending twice is harmless.
TEST(SystemTest, EndRuntimeFlushesAndClosesEverything) {
  InitRuntime();
  InitRuntime();
  TempFolder folder;
  std::vector<unsigned char> bytes = PatternBytes(9000, 4);
  ASSERT_NE(0, CreateFileForWriting(7, folder.Join("numbered").c_str()));
  ASSERT_EQ(100, WriteBytes(7, bytes.data(), 100));
  intptr_t any = CreateFileForWriting(kAnyNumber, folder.Join("any").c_str());
  ASSERT_EQ(9000, WriteBytes(any, bytes.data(), 9000));
  ASSERT_NE(0, OpenDirectoryListing(2, folder.Path().c_str(), ""));
  ASSERT_NE(0, NextEntry(2));
  EndRuntime();
  EndRuntime();
  EXPECT_EQ(bytes, ReadWholeFile(folder.Join("any")));
  bytes.resize(100);
  EXPECT_EQ(bytes, ReadWholeFile(folder.Join("numbered")));
  EXPECT_EQ(-1, FileLength(7));
  EXPECT_EQ(-1, FileLength(any));
  EXPECT_EQ(0, NextEntry(2));
  // Closed: the files can go (Windows deletes no open file).
  for (const char* name : {"numbered", "any"}) EXPECT_NE(0, RemoveFile(folder.Join(name).c_str()));
  InitRuntime();
  PauseMilliseconds(-1);  // must not mean "for ever"
}

// Refused sizes, and zero fill also of memory that was freed dirty.
TEST(MemoryTest, BlocksAreZeroFilledAndRefusedSizesGiveNone) {
  for (int64_t size : {int64_t(0), int64_t(-1), INT64_MIN, INT64_MAX, int64_t(1) << 48})
    EXPECT_EQ(nullptr, AllocateBlock(size)) << "size " << size;
  FreeBlock(nullptr);
  for (int round = 0; round < 3; round++) {
    for (int64_t size : {1, 4095, 4096, 4097, 102400, 1 << 20}) {
      char* block = static_cast<char*>(AllocateBlock(size));
      ASSERT_NE(nullptr, block) << "size " << size;
      EXPECT_EQ(size, std::count(block, block + size, 0)) << "size " << size << ", round " << round;
      memset(block, 0xA5, static_cast<size_t>(size));
      FreeBlock(block);
    }
  }
}

// The expected values were computed apart from the code under test, by a
// short Python script with exact integers: 34 seed words in memory order by
// x = x * 0xAC564B05 + 1, i = 0, j = 10, 31 discarded steps, then
// result = (R * (max + 1)) >> 64. The checksum folds 10,000 draws alternating
// max 999999999 and 2147483646 as sum = sum * 31 + value modulo 2^64.
TEST(RandomTest, SequenceAfterSeedMatchesDefinition) {
  const int32_t maxes[12] = {0, 1, 6, 99, 1000, 65535, 2147483646, 2147483647, 99, 99, 12, 1};
  const int32_t expected[12] = {0, 1, 1, 45, 337, 44932, 2028585293, 200171162, 86, 25, 11, 1};
  SeedRandom(0xDEADBEEFu);
  for (int k = 0; k < 12; k++) EXPECT_EQ(expected[k], RandomUpTo(maxes[k])) << "draw " << k;
  SeedRandom(2006);
  uint64_t sum = 0;
  for (int k = 0; k < 10000; k++)
    sum = sum * 31u + uint64_t(RandomUpTo(k % 2 ? 2147483646 : 999999999));
  EXPECT_EQ(0x627cf75c5dd2f16ull, sum);
  EXPECT_EQ(INT32_MIN, RandomUpTo(-1));
}

// The system's bytes differ in every call, on every thread, and in a forked child from what its
// parent draws next.
TEST(RandomTest, SystemBytesNeverRepeat) {
  std::vector<uint64_t> drawn(4000);
  std::thread other([&drawn] {
    for (int i = 0; i < 2000; i++) EXPECT_EQ(1, FillWithSystemRandom(&drawn[2000 + i], 8));
  });
  for (int i = 0; i < 2000; i++) EXPECT_EQ(1, FillWithSystemRandom(&drawn[i], 8));
  other.join();
  unsigned char big[300] = {};
  EXPECT_EQ(1, FillWithSystemRandom(big, 300));
  EXPECT_NE(0, big[296] | big[297] | big[298] | big[299]);
#ifndef _WIN32
  uint64_t inChild = 0;
  int pipeEnds[2];
  ASSERT_EQ(0, pipe(pipeEnds));
  pid_t child = fork();
  if (child == 0) {
    FillWithSystemRandom(&inChild, 8);
    _exit(write(pipeEnds[1], &inChild, 8) == 8 ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(8, read(pipeEnds[0], &inChild, 8));
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  for (int i = 0; i < 4; i++) {
    drawn.push_back(0);
    FillWithSystemRandom(&drawn.back(), 8);
  }
  drawn.push_back(inChild);
#endif
  std::sort(drawn.begin(), drawn.end());
  EXPECT_TRUE(std::adjacent_find(drawn.begin(), drawn.end()) == drawn.end());
}

const int32_t kParameters[4] = {INT32_MAX, INT32_MIN, 12345, 1};
std::atomic<int> gArrived[4];  // how often each of kParameters arrived
std::atomic<int> gTicks[2];

int32_t CountParameter(int32_t parameter) {
  for (int i = 0; i < 4; i++) gArrived[i] += parameter == kParameters[i];
  return 0;
}

int32_t TickForever(int32_t index) {  // only StopThread ends it
  for (gTicks[index] = 1;; gTicks[index]++) PauseMilliseconds(2);
}

// Parameters arrive, also from four threads starting threads at once; each start drops the
// finished threads; a wait times out on a running thread; StopThread ends one that never returns.
TEST(ThreadTest, StartWaitAndStop) {
  EXPECT_EQ(0, StartThread(nullptr, 5));
  EXPECT_NE(0, WaitForThread(0, -1)) << "an unknown handle counts as ended";
  std::vector<int> ended[4];  // WaitForThread's answer for each start, per starting thread
  std::vector<std::thread> starters;
  for (int i = 0; i < 4; i++)
    starters.emplace_back([i, &ended] {
      for (int k = 0; k < 50; k++)
        ended[i].push_back(WaitForThread(StartThread(CountParameter, kParameters[i]), 20000));
    });
  for (std::thread& t : starters) t.join();
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(50, gArrived[i].load()) << "parameter " << kParameters[i];
    for (int k = 0; k < 50; k++) EXPECT_NE(0, ended[i][k]) << "start " << k << " of thread " << i;
  }
  intptr_t ticking[2] = {StartThread(TickForever, 0), StartThread(TickForever, 1)};
  EXPECT_EQ(2, StartedThreadCount()) << "the 200 finished threads should have left";
  EXPECT_NE(ticking[0], ticking[1]);
  ASSERT_TRUE(handshake::WaitUntil([] { return gTicks[0] > 0 && gTicks[1] > 0; }));
  EXPECT_EQ(0, WaitForThread(ticking[0], 20)) << "still running";
  StopThread(ticking[0]);
  StopThread(ticking[0]);
  StopThread(0);
  EXPECT_EQ(1, StartedThreadCount());
  EXPECT_NE(0, WaitForThread(ticking[0], 0)) << "no longer in the list";
  // The other thread's ticks are the clock: after 20 a deferred stop has landed; then 50 more.
  int other = gTicks[1];
  ASSERT_TRUE(handshake::WaitUntil([&] { return gTicks[1] > other + 20; })) << "the other runs on";
  int stopped = gTicks[0];
  other = gTicks[1];
  ASSERT_TRUE(handshake::WaitUntil([&] { return gTicks[1] > other + 50; }));
  EXPECT_EQ(stopped, gTicks[0].load());
  StopThread(ticking[1]);
}

intptr_t gCountLock = 0, gCountsDone = 0;
int64_t gCount = 0;  // changed under gCountLock only

int32_t CountUnderLock(int32_t times) {
  for (int32_t k = 0; k < times; k++) {
    TakeLock(gCountLock);
    gCount = gCount + 1;
    ReleaseLock(gCountLock);
  }
  PostSemaphore(gCountsDone);
  return 0;
}

// Two threads counting under one lock lose no count; a semaphore gives what it started with and
// what was posted, and waits about as long as told.
TEST(ThreadTest, LockAndSemaphore) {
  EXPECT_LE(1, ProcessorCount());
  gCountLock = MakeLock();
  gCountsDone = MakeSemaphore(1);
  ASSERT_NE(0, gCountLock);
  ASSERT_NE(0, gCountsDone);
  EXPECT_EQ(1, WaitForSemaphore(gCountsDone, 0)) << "the count it started with";
  EXPECT_EQ(0, WaitForSemaphore(gCountsDone, 0)) << "nothing left to take";
  uint32_t start = TickCount();
  EXPECT_EQ(0, WaitForSemaphore(gCountsDone, 50)) << "nothing posted";
  EXPECT_LE(40u, TickCount() - start) << "the wait lasts about as long as told";
  intptr_t counters[2] = {StartThread(CountUnderLock, 200000), StartThread(CountUnderLock, 200000)};
  EXPECT_EQ(1, WaitForSemaphore(gCountsDone, 20000));
  EXPECT_EQ(1, WaitForSemaphore(gCountsDone, -1));
  EXPECT_EQ(400000, gCount) << "a count lost: the lock let two threads in";
  for (intptr_t counter : counters) WaitForThread(counter, 20000);
  DisposeSemaphore(gCountsDone);
  DisposeLock(gCountLock);
  DisposeLock(0);
  EXPECT_EQ(0, WaitForSemaphore(0, 0));
}

// The own path opens the running program itself (Windows: as an extended path, through the
// file service's wide calls; the stub's end-to-end test runs it from CJK and emoji folders).
TEST(ProcessTest, OwnExecutablePathOpensTheRunningProgram) {
  Text own = OwnExecutablePath();
  intptr_t file = OpenPlainFileForReading(own);
  ASSERT_NE(0, file) << own.c_str();
  char magic[4] = {};
  EXPECT_EQ(4, ReadPlainFile(file, magic, 4));
  ClosePlainFile(file);
  EXPECT_TRUE(memcmp(magic, "MZ", 2) == 0 || memcmp(magic, "\x7f" "ELF", 4) == 0) << own.c_str();
}

}  // namespace

#ifndef _WIN32
// An interrupt runs the procedure (which removes what it names), then ends the process with 128
// plus the signal's number; a second signal arriving meanwhile does not cut the procedure short.
char gInterruptMarker[256];
void RemoveInterruptMarker() {
  kill(getpid(), SIGINT);  // blocked while the procedure runs
  unlink(gInterruptMarker);
}

TEST(ProcessTest, InterruptsRunTheProcedureThenEndWithTheSignalsCode) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    std::string marker = testing::TempDir() + "interrupt-marker";
    snprintf(gInterruptMarker, sizeof gInterruptMarker, "%s", marker.c_str());
    FILE* made = fopen(marker.c_str(), "w");
    ASSERT_NE(nullptr, made);
    fclose(made);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (!CatchInterrupts(RemoveInterruptMarker)) _exit(1);
      raise(signal);
      _exit(2);  // never reached
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << signal;
    EXPECT_EQ(128 + signal, WEXITSTATUS(status));
    EXPECT_NE(0, access(marker.c_str(), F_OK)) << "the procedure removed the marker";
  }
}

// An interrupt that meets a thread holding interrupts waits until it lets them go: the steps in
// between all run, then the procedure, then the end with the signal's code.
TEST(ProcessTest, AHeldInterruptWaitsForTheRelease) {
  std::string marker = testing::TempDir() + "held-marker", made = testing::TempDir() + "held-made";
  snprintf(gInterruptMarker, sizeof gInterruptMarker, "%s", marker.c_str());
  unlink(made.c_str());
  FILE* file = fopen(marker.c_str(), "w");
  ASSERT_NE(nullptr, file);
  fclose(file);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!CatchInterrupts(RemoveInterruptMarker)) _exit(1);
    HoldInterrupts(1);
    raise(SIGTERM);
    FILE* step = fopen(made.c_str(), "w");  // still running
    if (step == nullptr || access(marker.c_str(), F_OK) != 0) _exit(3);
    fclose(step);
    HoldInterrupts(0);
    _exit(2);  // never reached
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(128 + SIGTERM, WEXITSTATUS(status));
  EXPECT_EQ(0, access(made.c_str(), F_OK)) << "the held steps ran";
  EXPECT_NE(0, access(marker.c_str(), F_OK)) << "then the procedure";
  unlink(made.c_str());
}
#endif
