// Tests of the thread services: the parameter reaches the procedure, the list
// of started threads stays bounded over many cycles, StopThread ends a thread
// that is blocked, and StartThread may be called from several threads at once.
#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "runtime/system.h"
#include "runtime/thread.h"

namespace {

const int32_t kLongWaitMs = 20000;

std::mutex gReceivedLock;
std::vector<int32_t> gReceived;

int32_t RecordParameter(int32_t parameter) {
  std::lock_guard<std::mutex> hold(gReceivedLock);
  gReceived.push_back(parameter);
  return parameter;
}

std::atomic<int> gRuns(0);

int32_t CountRun(int32_t) {
  gRuns++;
  return 0;
}

std::atomic<bool> gRelease(false);
std::atomic<int> gWaiting(0);

int32_t WaitForRelease(int32_t) {
  gWaiting++;
  while (!gRelease) PauseMilliseconds(1);
  return 0;
}

std::atomic<bool> gBlockedStarted(false);
std::atomic<int> gBlockedTicks(0);

// Never returns by itself: only StopThread ends it.
int32_t BlockForever(int32_t) {
  gBlockedStarted = true;
  for (;;) {
    gBlockedTicks++;
    PauseMilliseconds(2);
  }
}

TEST(ThreadTest, ParameterReachesTheProcedure) {
  const int32_t parameters[] = {0, 1, -1, 12345, INT32_MAX, INT32_MIN};
  gReceived.clear();
  for (int32_t p : parameters) {
    intptr_t thread = StartThread(RecordParameter, p);
    ASSERT_NE(0, thread);
    EXPECT_NE(0, WaitForThread(thread, kLongWaitMs));
  }
  std::vector<int32_t> expected(std::begin(parameters), std::end(parameters));
  std::lock_guard<std::mutex> hold(gReceivedLock);
  EXPECT_EQ(expected, gReceived);
}

TEST(ThreadTest, NullProcedureStartsNothing) { EXPECT_EQ(0, StartThread(nullptr, 5)); }

TEST(ThreadTest, ManyCyclesKeepTheListBounded) {
  gRuns = 0;
  for (int k = 0; k < 300; k++) {
    intptr_t thread = StartThread(CountRun, k);
    ASSERT_NE(0, thread) << "cycle " << k;
    ASSERT_NE(0, WaitForThread(thread, kLongWaitMs));
    // The thread before this one had ended, so this start dropped it.
    ASSERT_LE(StartedThreadCount(), 1) << "cycle " << k;
  }
  EXPECT_EQ(300, gRuns.load());

  // A burst without waiting: every finished thread leaves at a later start.
  std::vector<intptr_t> burst;
  for (int k = 0; k < 64; k++) burst.push_back(StartThread(CountRun, k));
  for (intptr_t thread : burst) {
    ASSERT_NE(0, thread);
    ASSERT_NE(0, WaitForThread(thread, kLongWaitMs));
  }
  intptr_t last = StartThread(CountRun, 0);
  ASSERT_NE(0, last);
  EXPECT_LE(StartedThreadCount(), 1);
  EXPECT_NE(0, WaitForThread(last, kLongWaitMs));
  EXPECT_EQ(300 + 64 + 1, gRuns.load());
}

TEST(ThreadTest, LiveThreadsHaveDistinctHandlesAndWaitsTimeOut) {
  gRelease = false;
  gWaiting = 0;
  std::vector<intptr_t> threads;
  for (int k = 0; k < 8; k++) threads.push_back(StartThread(WaitForRelease, k));
  std::set<intptr_t> distinct(threads.begin(), threads.end());
  EXPECT_EQ(8u, distinct.size());
  EXPECT_EQ(0u, distinct.count(0));
  while (gWaiting < 8) PauseMilliseconds(1);
  EXPECT_GE(StartedThreadCount(), 8);
  // Still running: a short wait reports that it has not ended.
  EXPECT_EQ(0, WaitForThread(threads[0], 20));
  EXPECT_EQ(0, WaitForThread(threads[7], 0));
  gRelease = true;
  for (intptr_t thread : threads) EXPECT_NE(0, WaitForThread(thread, kLongWaitMs));
}

TEST(ThreadTest, StopThreadEndsABlockedThread) {
  gBlockedStarted = false;
  gBlockedTicks = 0;
  intptr_t thread = StartThread(BlockForever, 0);
  ASSERT_NE(0, thread);
  while (!gBlockedStarted) PauseMilliseconds(1);
  EXPECT_EQ(0, WaitForThread(thread, 20));
  int before = StartedThreadCount() - 1;

  StopThread(thread);
  EXPECT_EQ(before, StartedThreadCount());
  EXPECT_NE(0, WaitForThread(thread, 0));  // no longer in the list
  // Give a deferred stop time to land, then the loop must stand still.
  PauseMilliseconds(100);
  int ticks = gBlockedTicks;
  PauseMilliseconds(200);
  EXPECT_EQ(ticks, gBlockedTicks.load());

  // Stopping it again, or a handle never issued, does nothing.
  StopThread(thread);
  StopThread(0);
  EXPECT_EQ(before, StartedThreadCount());
}

TEST(ThreadTest, UnknownHandlesCountAsEnded) {
  EXPECT_NE(0, WaitForThread(0, 0));
  EXPECT_NE(0, WaitForThread(0, -1));
}

TEST(ThreadTest, ConcurrentStartsFromSeveralThreads) {
  gRuns = 0;
  const int kStarters = 4;
  const int kStartsEach = 50;
  std::atomic<int> failures(0);
  std::vector<std::thread> starters;
  for (int s = 0; s < kStarters; s++) {
    starters.emplace_back([&failures] {
      for (int k = 0; k < kStartsEach; k++) {
        intptr_t thread = StartThread(CountRun, k);
        if (thread == 0 || WaitForThread(thread, kLongWaitMs) == 0) failures++;
      }
    });
  }
  for (std::thread& t : starters) t.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(kStarters * kStartsEach, gRuns.load());
  intptr_t last = StartThread(CountRun, 0);
  ASSERT_NE(0, last);
  EXPECT_LE(StartedThreadCount(), 1);
  EXPECT_NE(0, WaitForThread(last, kLongWaitMs));
}

}  // namespace
