// The blocking part of ReaderWriterLock on the standard mutex and condition variables.
#include "support/rw_lock.h"

namespace kiv::rw_detail {

void Monitor::Lock() { mutex_.lock(); }
void Monitor::Unlock() { mutex_.unlock(); }

void Monitor::WaitReaders() {
  std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
  readers_.wait(lock);
  lock.release();
}

void Monitor::WaitWriters() {
  std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
  writers_.wait(lock);
  lock.release();
}

void Monitor::WakeReaders() { readers_.notify_all(); }
void Monitor::WakeWriters() { writers_.notify_all(); }

}  // namespace kiv::rw_detail
