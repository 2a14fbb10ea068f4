// Handshakes with the programs' threads instead of sleeps: a counter a hook raises, and a wait
// for a condition; both give up after a bound, so a fault fails the test instead of hanging it.
#ifndef VEZOVUD_TESTS_SUPPORT_HANDSHAKE_H
#define VEZOVUD_TESTS_SUPPORT_HANDSHAKE_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace handshake {

const int kBoundMs = 5000;

class Counter {
 public:
  void Raise() {
    std::lock_guard<std::mutex> guard(lock_);
    ++count_;
    raised_.notify_all();
  }
  int Count() {
    std::lock_guard<std::mutex> guard(lock_);
    return count_;
  }
  void Reset() {
    std::lock_guard<std::mutex> guard(lock_);
    count_ = 0;
  }
  // True once the count is above seen; false after timeoutMs.
  bool WaitAbove(int seen, int timeoutMs = kBoundMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return raised_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return count_ > seen; });
  }

 private:
  std::mutex lock_;
  std::condition_variable raised_;
  int count_ = 0;
};

// True once done() holds; false after timeoutMs.
template <typename Done>
bool WaitUntil(Done done, int timeoutMs = kBoundMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace handshake

#endif
