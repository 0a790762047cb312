#include "settings/lock_holder_helper.h"

#include "settings/named_ini_lock.h"

namespace kiv::test {

LockHolder::LockHolder(const std::string& name) {
  thread_ = std::thread([this, name] {
    TNamedIniLock lock(name);
    TNamedIniLockGuard guard(lock);
    std::unique_lock<std::mutex> l(mutex_);
    started_ = true;
    held_ = guard.Owns();
    changed_.notify_all();
    changed_.wait(l, [this] { return done_; });
  });
  std::unique_lock<std::mutex> l(mutex_);
  changed_.wait(l, [this] { return started_; });
}

LockHolder::~LockHolder() {
  {
    std::lock_guard<std::mutex> l(mutex_);
    done_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

}  // namespace kiv::test
