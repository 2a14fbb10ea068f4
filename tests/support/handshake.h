// Handshakes with the programs' threads instead of sleeps: a counter a hook raises, and a wait
// for a condition; both give up after a bound, so a fault fails the test instead of hanging it.
#ifndef VEZOVUD_TESTS_SUPPORT_HANDSHAKE_H
#define VEZOVUD_TESTS_SUPPORT_HANDSHAKE_H

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace handshake {

const int kBoundMs = 5000;

// A bound in milliseconds, times VEZOVUD_TIMEOUT_SCALE when it is set (an emulated machine,
// scripts/test-i686-vm.sh, raises it): one factor for every bound of every test.
inline int Scaled(int ms) {
  const char* factor = std::getenv("VEZOVUD_TIMEOUT_SCALE");
  double scale = factor != nullptr ? std::atof(factor) : 1.0;
  return scale >= 1.0 ? static_cast<int>(ms * scale) : ms;
}

// Ends the test program at once with a failure: for a helper thread that missed its bound while
// the test's own thread waits on something only the helper would end (a modal dialog).
[[noreturn]] inline void FailNow(const char* what) {
  std::fprintf(stderr, "FAILED: %s (a handshake missed its bound)\n", what);
  std::fflush(nullptr);
  std::_Exit(1);
}

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
    return raised_.wait_for(guard, std::chrono::milliseconds(Scaled(timeoutMs)),
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
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(timeoutMs));
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace handshake

#endif
