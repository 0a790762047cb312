#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "translation/unload_timer.h"

namespace kiv {
namespace {

// A periodic timer on its own thread; enabling restarts the countdown.
class TThreadUnloadTimer : public TUnloadTimer {
 public:
  TThreadUnloadTimer(std::uint32_t intervalMs, std::function<void()> onTick)
      : interval_(intervalMs), onTick_(std::move(onTick)), thread_([this] { Run(); }) {}

  ~TThreadUnloadTimer() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void SetEnabled(bool enabled) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      enabled_ = enabled;
      ++generation_;
    }
    wake_.notify_all();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      if (!enabled_ || interval_.count() == 0) {
        wake_.wait(lock);
        continue;
      }
      const unsigned long long generation = generation_;
      if (wake_.wait_for(lock, interval_, [&] { return stop_ || generation_ != generation; }))
        continue;  // stopped, or switched and restarted: count again
      lock.unlock();
      onTick_();
      lock.lock();
    }
  }

  const std::chrono::milliseconds interval_;
  const std::function<void()> onTick_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool enabled_ = false;
  bool stop_ = false;
  unsigned long long generation_ = 0;
  std::thread thread_;  // last: starts after the fields above exist
};

}  // namespace

std::unique_ptr<TUnloadTimer> CreateSystemUnloadTimer(std::uint32_t intervalMs,
                                                      std::function<void()> onTick) {
  return std::make_unique<TThreadUnloadTimer>(intervalMs, std::move(onTick));
}

}  // namespace kiv
