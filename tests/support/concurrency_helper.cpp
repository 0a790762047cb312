#include "concurrency_helper.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace kiv_test {

void WaitUntil(const std::function<bool()>& condition, const char* what) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeadlockLimitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      std::fprintf(stderr, "FATAL: gave up waiting for %s (deadlock?)\n", what);
      std::fflush(stderr);
      std::_Exit(3);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TestThread::TestThread(std::function<void()> body)
    : thread_([this, body = std::move(body)] {
        body();
        done_.store(true);
      }) {}

TestThread::~TestThread() { Join(); }

void TestThread::Join() {
  if (!thread_.joinable()) return;
  WaitUntil([this] { return done_.load(); }, "a test thread to finish");
  thread_.join();
}

}  // namespace kiv_test
