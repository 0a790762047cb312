#include <windows.h>

#include <vector>

#include "host/process_use.h"

namespace kivhost {
namespace {

int64_t HeapBytesInUse() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  const DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  int64_t used = 0;
  for (DWORD i = 0; i < count && i < heaps.size(); ++i) {
    HeapLock(heaps[i]);
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) used += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  return used;
}

// One entry of the system's handle table (SystemHandleInformation).
struct SystemHandleEntry {
  ULONG OwnerPid;
  BYTE ObjectType;
  BYTE Flags;
  USHORT Value;
  PVOID Object;
  ULONG Access;
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// Counted in the system's handle table, since Wine answers GetProcessHandleCount with 0; the
// count of GetProcessHandleCount where the table cannot be read.
int64_t OpenHandles() {
  const auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  for (ULONG size = 1 << 16; query && size <= (1u << 26); size *= 2) {
    std::vector<unsigned char> table(size);
    ULONG needed = 0;
    const LONG status = query(kSystemHandleInformation, table.data(), size, &needed);
    if (status == kInfoLengthMismatch) continue;
    if (status != 0) break;
    const ULONG count = *reinterpret_cast<const ULONG*>(table.data());
    const auto* entries = reinterpret_cast<const SystemHandleEntry*>(table.data() + sizeof(void*));
    const ULONG fits = static_cast<ULONG>((size - sizeof(void*)) / sizeof(SystemHandleEntry));
    int64_t own = 0;
    for (ULONG i = 0; i < count && i < fits; ++i) own += entries[i].OwnerPid == GetCurrentProcessId();
    return own;
  }
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

int64_t LowestFreeTlsSlot() {
  const DWORD slot = TlsAlloc();
  if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
  return slot;
}

}  // namespace

ProcessUse MeasureProcessUse() {
  ProcessUse use;
  use.HeapBytes = HeapBytesInUse();
  use.Handles = OpenHandles();
  use.TlsSlot = LowestFreeTlsSlot();
  return use;
}

}  // namespace kivhost
