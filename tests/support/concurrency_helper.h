// Test helpers for concurrency tests: threads whose join is bounded, and bounded waits
// for a condition. A deadlock ends the test process with a message instead of hanging
// the run; no test asserts on timing.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace kiv_test {

// Far longer than any correct test needs; reached only when something deadlocked.
constexpr int kDeadlockLimitMs = 30000;

// Polls `condition` until it holds; ends the process if it never does.
void WaitUntil(const std::function<bool()>& condition, const char* what);

class TestThread {
 public:
  explicit TestThread(std::function<void()> body);
  ~TestThread();  // joins (bounded)
  TestThread(const TestThread&) = delete;
  TestThread& operator=(const TestThread&) = delete;

  void Join();
  bool Finished() const { return done_.load(); }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace kiv_test
