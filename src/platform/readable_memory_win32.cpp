#include "platform/readable_memory.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "platform/seh_guard.h"

namespace kiv {
namespace {

constexpr uintptr_t kPageSize = 4096;
constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// [begin, begin + size) without wrapping past the end of the address space; false for null.
bool ValidRange(const void* address, size_t size) {
  const auto begin = reinterpret_cast<uintptr_t>(address);
  return address && begin + size >= begin;
}

struct Probe {
  const volatile unsigned char* begin;
  size_t size;
};

// Reads one byte of every page of the range: a page that cannot be read faults here, inside the
// guard, instead of in the caller.
void TouchPages(void* context) {
  const auto& probe = *static_cast<const Probe*>(context);
  const auto first = reinterpret_cast<uintptr_t>(probe.begin);
  const uintptr_t last = first + probe.size - 1;
  for (uintptr_t page = first & ~(kPageSize - 1); page <= last; page += kPageSize) {
    const uintptr_t at = page < first ? first : page;
    (void)*reinterpret_cast<const volatile unsigned char*>(at);
    if (page + kPageSize < page) break;  // the last page of the address space
  }
}

struct EachProbe {
  const void* const* addresses;
  size_t count;
  size_t size;
  bool valid;  // false once an address range wraps or is null
};

// TouchPages for every address of the array; a range that cannot be valid ends the pass.
void TouchEach(void* context) {
  auto& each = *static_cast<EachProbe*>(context);
  for (size_t i = 0; i < each.count; ++i) {
    if (!ValidRange(each.addresses[i], each.size)) {
      each.valid = false;
      return;
    }
    Probe probe{static_cast<const volatile unsigned char*>(each.addresses[i]), each.size};
    TouchPages(&probe);
  }
}

struct Copy {
  void* target;
  const void* source;
  size_t size;
};

// Small copies (a call record, a list header, a pointer) are done inline: the C runtime's memcpy
// costs a call through the import table and its own size dispatch, which under Wine is several
// times the copy itself. The loop must stay a loop, not become a memcpy call again.
__attribute__((optimize("no-tree-loop-distribute-patterns"))) void CopySmall(unsigned char* target,
                                                                            const unsigned char* source,
                                                                            size_t size) {
  for (; size >= 16; size -= 16, target += 16, source += 16) {
    unsigned char block[16];
    __builtin_memcpy(block, source, 16);
    __builtin_memcpy(target, block, 16);
  }
  for (; size >= 4; size -= 4, target += 4, source += 4) {
    uint32_t word;
    __builtin_memcpy(&word, source, 4);
    __builtin_memcpy(target, &word, 4);
  }
  for (; size > 0; --size) *target++ = *source++;
}

void CopyBytes(void* context) {
  const auto& copy = *static_cast<const Copy*>(context);
  constexpr size_t kSmall = 256;
  if (copy.size <= kSmall)
    CopySmall(static_cast<unsigned char*>(copy.target), static_cast<const unsigned char*>(copy.source), copy.size);
  else
    std::memcpy(copy.target, copy.source, copy.size);
}

// Adds zero to one byte of every page of the range with a locked instruction: a page that
// cannot be written faults inside the guard, and no byte changes even under concurrent writers.
void TouchPagesForWrite(void* context) {
  const auto& probe = *static_cast<const Probe*>(context);
  const auto first = reinterpret_cast<uintptr_t>(probe.begin);
  const uintptr_t last = first + probe.size - 1;
  for (uintptr_t page = first & ~(kPageSize - 1); page <= last; page += kPageSize) {
    const uintptr_t at = page < first ? first : page;
    asm volatile("lock addb $0, (%0)" : : "r"(at) : "memory");
    if (page + kPageSize < page) break;
  }
}

// The direct reader of a walk that runs under one guard: a fault ends the walk there.
bool DirectCopy(void* target, const void* source, size_t size) noexcept {
  if (size == 0) return true;
  if (!ValidRange(source, size)) return false;
  Copy copy{target, source, size};
  CopyBytes(&copy);
  return true;
}

bool DirectTouch(const void* address, size_t size) noexcept {
  if (size == 0) return true;
  if (!ValidRange(address, size)) return false;
  Probe probe{static_cast<const volatile unsigned char*>(address), size};
  TouchPages(&probe);
  return true;
}

struct Walk {
  ForeignWalk walk;
  void* context;
  bool answer;
};

void RunWalk(void* context) {
  auto& walk = *static_cast<Walk*>(context);
  static constexpr ForeignReader kDirect{&DirectCopy, &DirectTouch};
  walk.answer = walk.walk(kDirect, walk.context);
}

}  // namespace

bool WalkForeignMemory(ForeignWalk walk, void* context) noexcept {
  Walk state{walk, context, false};
  return CallSehGuarded(&RunWalk, &state) && state.answer;
}

void TouchForWriteInGuard(void* address, size_t size) noexcept {
  if (size == 0) return;
  Probe probe{static_cast<const volatile unsigned char*>(address), size};
  TouchPagesForWrite(&probe);
}

bool IsWritableMemory(void* address, size_t size) noexcept {
  if (size == 0) return true;
  if (!ValidRange(address, size)) return false;
  Probe probe{static_cast<const volatile unsigned char*>(address), size};
  return CallSehGuarded(&TouchPagesForWrite, &probe);
}

bool WritableCopy(void* target, const void* source, size_t size) noexcept {
  if (size == 0) return true;
  if (!ValidRange(target, size)) return false;
  Copy copy{target, source, size};
  return CallSehGuarded(&CopyBytes, &copy);
}

// A read under the structured-exception guard costs a few nanoseconds where asking the system
// about the pages (VirtualQuery) costs about half a microsecond; a bad address costs the fault's
// dispatch, which only bad callers pay. The guard restores a guard page that the read tripped.
bool IsReadableMemory(const void* address, size_t size) noexcept {
  if (size == 0) return true;
  if (!ValidRange(address, size)) return false;
  Probe probe{static_cast<const volatile unsigned char*>(address), size};
  return CallSehGuarded(&TouchPages, &probe);
}

bool IsReadableEach(const void* const* addresses, size_t count, size_t size) noexcept {
  if (count == 0 || size == 0) return true;
  EachProbe each{addresses, count, size, true};
  return CallSehGuarded(&TouchEach, &each) && each.valid;
}

bool ReadableCopy(void* target, const void* source, size_t size) noexcept {
  if (size == 0) return true;
  if (!ValidRange(source, size)) return false;
  Copy copy{target, source, size};
  return CallSehGuarded(&CopyBytes, &copy);
}

// Walks the regions that cover the range: each must be committed, readable and not a guard page.
bool IsMappedReadable(const void* address, size_t size) noexcept {
  if (size == 0) return true;
  if (!ValidRange(address, size)) return false;
  const uintptr_t end = reinterpret_cast<uintptr_t>(address) + size;
  uintptr_t cur = reinterpret_cast<uintptr_t>(address);
  while (cur < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(cur), &info, sizeof info) != sizeof info) return false;
    if (info.State != MEM_COMMIT || !(info.Protect & kReadable) || (info.Protect & PAGE_GUARD)) return false;
    const uintptr_t region_end = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (region_end <= cur) return false;
    cur = region_end;
  }
  return true;
}

}  // namespace kiv
