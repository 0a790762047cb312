#include "platform/readable_memory.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/fault_probe_posix.h"
#include "platform/sanitizer_build.h"

namespace kiv {
namespace {

bool RangeValid(const void* address, size_t size) noexcept {
  const auto begin = reinterpret_cast<uintptr_t>(address);
  return address && begin + size >= begin;
}

// The kernel copies the range and reports EFAULT for an unmapped or unreadable page, without a
// signal (and without the sanitizers reading it).
bool KernelCopy(void* target, const void* source, size_t size) noexcept {
  if (size == 0) return true;
  if (!RangeValid(source, size)) return false;
  iovec local{target, size};
  iovec remote{const_cast<void*>(source), size};
  static const pid_t self = getpid();  // one system call less per check
  return process_vm_readv(self, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

// The kernel reads one byte of each page of the range, up to kBatch pages per system call:
// readability is a property of whole pages.
bool KernelTouch(const void* address, size_t size) noexcept {
  if (size == 0) return true;
  if (!RangeValid(address, size)) return false;
  constexpr size_t kBatch = 64;
  constexpr uintptr_t kPage = 4096;  // the smallest page: a larger one is only probed more often
  static const pid_t self = getpid();
  char sink[kBatch];
  iovec remote[kBatch];
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t last = at + size - 1;
  bool more = true;
  while (more) {
    size_t n = 0;
    while (more && n < kBatch) {
      remote[n++] = iovec{reinterpret_cast<void*>(at), 1};
      const uintptr_t next = (at | (kPage - 1)) + 1;
      more = next != 0 && next <= last;
      at = next;
    }
    iovec local{sink, n};
    if (process_vm_readv(self, &local, 1, remote, n, 0) != static_cast<ssize_t>(n)) return false;
  }
  return true;
}

}  // namespace

// A build with a sanitizer asks the kernel: the sanitizer must not see reads of memory that
// was freed, and may own the fault handlers. Any other build reads under a fault handler,
// without a system call per check.
bool ReadableCopy(void* target, const void* source, size_t size) noexcept {
  return kSanitizerBuild ? KernelCopy(target, source, size) : FaultGuardedCopy(target, source, size);
}

bool IsReadableMemory(const void* address, size_t size) noexcept {
  return kSanitizerBuild ? KernelTouch(address, size) : FaultGuardedTouch(address, size);
}

// The kernel's map of this process: every page of the range must lie in a writable mapping.
bool IsWritableMemory(void* address, size_t size) noexcept {
  if (size == 0) return true;
  const auto begin = reinterpret_cast<uintptr_t>(address);
  if (!address || begin + size < begin) return false;
  FILE* maps = std::fopen("/proc/self/maps", "r");
  if (!maps) return false;
  uintptr_t covered = begin;
  const uintptr_t end = begin + size;
  char line[512];
  while (covered < end && std::fgets(line, sizeof line, maps)) {
    unsigned long from = 0, to = 0;
    char perms[5] = {};
    if (std::sscanf(line, "%lx-%lx %4s", &from, &to, perms) != 3) continue;
    if (from <= covered && covered < to && perms[1] == 'w') covered = to;
  }
  std::fclose(maps);
  return covered >= end;
}

bool WritableCopy(void* target, const void* source, size_t size) noexcept {
  if (!IsWritableMemory(target, size)) return false;
  if (size > 0) std::memcpy(target, source, size);
  return true;
}

}  // namespace kiv

namespace kiv {

bool IsReadableEach(const void* const* addresses, size_t count, size_t size) noexcept {
  for (size_t i = 0; i < count; ++i)
    if (!IsReadableMemory(addresses[i], size)) return false;
  return true;
}

// Also inside a signal handler: the kernel's answer, with no handler of ours involved.
bool IsMappedReadable(const void* address, size_t size) noexcept { return KernelTouch(address, size); }

namespace {

// The readers of a walk that runs under one fault guard: they read directly, and a fault ends
// the walk.
bool DirectCopy(void* target, const void* source, size_t size) noexcept {
  if (!RangeValid(source, size) && size != 0) return false;
  if (size > 0) std::memcpy(target, source, size);
  return true;
}

bool DirectTouch(const void* address, size_t size) noexcept {
  if (size == 0) return true;
  if (!RangeValid(address, size)) return false;
  const auto* first = static_cast<const volatile char*>(address);
  (void)first[0];
  (void)first[size - 1];
  // Every page between: readability is a property of whole pages.
  for (size_t at = 4096 - reinterpret_cast<uintptr_t>(address) % 4096; at < size; at += 4096) (void)first[at];
  return true;
}

struct Walk {
  ForeignWalk walk;
  void* context;
  bool answer;
};

}  // namespace

// With a sanitizer each read is checked by the kernel; otherwise the whole walk runs under one
// fault guard, as on Windows.
bool WalkForeignMemory(ForeignWalk walk, void* context) noexcept {
  if (kSanitizerBuild) {
    static constexpr ForeignReader kChecked{&ReadableCopy, &IsReadableMemory};
    return walk(kChecked, context);
  }
  Walk state{walk, context, false};
  const bool completed = FaultGuardedRun(
      [](void* p) {
        static constexpr ForeignReader kDirect{&DirectCopy, &DirectTouch};
        auto& w = *static_cast<Walk*>(p);
        w.answer = w.walk(kDirect, w.context);
      },
      &state);
  return completed && state.answer;
}

}  // namespace kiv
