#include "platform/readable_memory.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kiv {

// The kernel copies the range and reports EFAULT for an unmapped or unreadable page, without a
// signal (and without the sanitizers reading it).
bool ReadableCopy(void* target, const void* source, size_t size) noexcept {
  if (size == 0) return true;
  const auto begin = reinterpret_cast<uintptr_t>(source);
  if (!source || begin + size < begin) return false;
  iovec local{target, size};
  iovec remote{const_cast<void*>(source), size};
  static const pid_t self = getpid();  // one system call less per check
  return process_vm_readv(self, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

bool IsReadableMemory(const void* address, size_t size) noexcept {
  char scratch[4096];
  const auto* cur = static_cast<const char*>(address);
  do {
    const size_t chunk = std::min(size, sizeof scratch);
    if (!ReadableCopy(scratch, cur, chunk)) return false;
    cur += chunk;
    size -= chunk;
  } while (size > 0);
  return true;
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

bool IsMappedReadable(const void* address, size_t size) noexcept { return IsReadableMemory(address, size); }

bool WalkForeignMemory(ForeignWalk walk, void* context) noexcept {
  static constexpr ForeignReader kChecked{&ReadableCopy, &IsReadableMemory};
  return walk(kChecked, context);
}

}  // namespace kiv
