// ThreadSlot: one pointer per thread in a slot of the system's thread-local storage, for hot
// paths. On Windows the first 64 slots are read and written straight in the thread's environment block
// (this toolchain emulates thread_local through a library call on every access); elsewhere the
// system's thread-specific keys. The slot is allocated on first use and given back by Close;
// whoever stores a pointer owns what it points to. Any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace kiv {

class ThreadSlot {
 public:
  constexpr ThreadSlot() = default;
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // This thread's pointer; null until Set, and when no slot could be allocated.
  void* Get() const noexcept;
  // Stores this thread's pointer; false when the system has no slot left or the slot is closed.
  bool Set(void* value) noexcept;
  // Gives the system's slot back (when the module unloads, so that loading it again and again
  // does not use up the process's slots); afterwards Get is null and Set fails.
  void Close() noexcept;

 private:
  static constexpr uintptr_t kClosed = ~uintptr_t{0};
  // The system's slot index plus one; 0 until allocated, kClosed once closed.
  uintptr_t Slot() const noexcept;
  // The system's side (thread_slot_win32.cpp, thread_slot_posix.cpp): allocate an index (false
  // when none is left), give it back, read and write this thread's value.
  static bool AllocIndex(uintptr_t& index) noexcept;
  static void FreeIndex(uintptr_t index) noexcept;
  static void* GetIndex(uintptr_t index) noexcept;
  static bool SetIndex(uintptr_t index, void* value) noexcept;
  mutable std::atomic<uintptr_t> slot_{0};
};

}  // namespace kiv
