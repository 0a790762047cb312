#include "platform/readable_memory.h"

#include <windows.h>

#include <cstdint>

namespace kiv {
namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

}  // namespace

// Walks the regions that cover the range: each must be committed, readable and not a guard page.
bool IsReadableMemory(const void* address, size_t size) noexcept {
  if (size == 0) return true;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(address);
  const uintptr_t end = begin + size;
  if (!address || end < begin) return false;
  uintptr_t cur = begin;
  while (cur < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(cur), &info, sizeof info) != sizeof info)
      return false;
    if (info.State != MEM_COMMIT || !(info.Protect & kReadable) || (info.Protect & PAGE_GUARD))
      return false;
    const uintptr_t region_end = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (region_end <= cur) return false;
    cur = region_end;
  }
  return true;
}

bool ReadableCopy(void* target, const void* source, size_t size) noexcept {
  if (!IsReadableMemory(source, size)) return false;
  if (size) CopyMemory(target, source, size);
  return true;
}

}  // namespace kiv
