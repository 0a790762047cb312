// Holds a named INI lock on a thread of its own, alive, for the helper's lifetime.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace kiv::test {

class LockHolder {
 public:
  // Returns once the thread owns the lock `name`.
  explicit LockHolder(const std::string& name);
  // Releases the lock and ends the thread.
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool Holds() const { return held_; }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false, held_ = false, done_ = false;
  std::thread thread_;
};

}  // namespace kiv::test
