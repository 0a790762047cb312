// Import address table redirection for AllocationCounter.
#include <malloc.h>

#include <cstring>

#include "import_counter.h"

namespace kivbench {
namespace {

std::atomic<int64_t> g_count{0};
std::atomic<int64_t> g_live{0};
void* (*g_malloc)(size_t) = nullptr;
void* (*g_calloc)(size_t, size_t) = nullptr;
void* (*g_realloc)(void*, size_t) = nullptr;
void (*g_free)(void*) = nullptr;
LPVOID(WINAPI* g_heap_alloc)(HANDLE, DWORD, SIZE_T) = nullptr;
LPVOID(WINAPI* g_heap_realloc)(HANDLE, DWORD, LPVOID, SIZE_T) = nullptr;
BOOL(WINAPI* g_heap_free)(HANDLE, DWORD, LPVOID) = nullptr;

int64_t CrtBytes(void* p) { return p ? static_cast<int64_t>(_msize(p)) : 0; }
int64_t HeapBytes(HANDLE heap, void* p) {
  const SIZE_T n = p ? HeapSize(heap, 0, p) : 0;
  return n == static_cast<SIZE_T>(-1) ? 0 : static_cast<int64_t>(n);
}

void* CountedMalloc(size_t n) {
  ++g_count;
  void* p = g_malloc(n);
  g_live += CrtBytes(p);
  return p;
}
void* CountedCalloc(size_t n, size_t size) {
  ++g_count;
  void* p = g_calloc(n, size);
  g_live += CrtBytes(p);
  return p;
}
void* CountedRealloc(void* p, size_t n) {
  ++g_count;
  const int64_t before = CrtBytes(p);
  void* q = g_realloc(p, n);
  if (q || n == 0) g_live += CrtBytes(q) - before;
  return q;
}
void CountedFree(void* p) {
  g_live -= CrtBytes(p);
  g_free(p);
}
LPVOID WINAPI CountedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T n) {
  ++g_count;
  void* p = g_heap_alloc(heap, flags, n);
  g_live += HeapBytes(heap, p);
  return p;
}
LPVOID WINAPI CountedHeapReAlloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T n) {
  ++g_count;
  const int64_t before = HeapBytes(heap, p);
  void* q = g_heap_realloc(heap, flags, p, n);
  if (q) g_live += HeapBytes(heap, q) - before;
  return q;
}
BOOL WINAPI CountedHeapFree(HANDLE heap, DWORD flags, LPVOID p) {
  g_live -= HeapBytes(heap, p);
  return g_heap_free(heap, flags, p);
}

}  // namespace

AllocationCounter::AllocationCounter(HMODULE module) {
  g_live.store(0);
  auto* base = reinterpret_cast<uint8_t*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return;
  for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); desc->Name; ++desc) {
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (desc->OriginalFirstThunk ? desc->OriginalFirstThunk
                                                                                       : desc->FirstThunk));
    auto* entries = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++entries) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
      void** entry = reinterpret_cast<void**>(&entries->u1.Function);
      if (!std::strcmp(name, "malloc"))
        Redirect(entry, reinterpret_cast<void*>(&CountedMalloc), reinterpret_cast<void**>(&g_malloc));
      else if (!std::strcmp(name, "calloc"))
        Redirect(entry, reinterpret_cast<void*>(&CountedCalloc), reinterpret_cast<void**>(&g_calloc));
      else if (!std::strcmp(name, "realloc"))
        Redirect(entry, reinterpret_cast<void*>(&CountedRealloc), reinterpret_cast<void**>(&g_realloc));
      else if (!std::strcmp(name, "HeapAlloc"))
        Redirect(entry, reinterpret_cast<void*>(&CountedHeapAlloc), reinterpret_cast<void**>(&g_heap_alloc));
      else if (!std::strcmp(name, "HeapReAlloc"))
        Redirect(entry, reinterpret_cast<void*>(&CountedHeapReAlloc), reinterpret_cast<void**>(&g_heap_realloc));
      else if (!std::strcmp(name, "free"))
        Redirect(entry, reinterpret_cast<void*>(&CountedFree), reinterpret_cast<void**>(&g_free));
      else if (!std::strcmp(name, "HeapFree"))
        Redirect(entry, reinterpret_cast<void*>(&CountedHeapFree), reinterpret_cast<void**>(&g_heap_free));
    }
  }
}

AllocationCounter::~AllocationCounter() {
  for (int i = 0; i < hooked_; ++i) {
    DWORD old = 0;
    VirtualProtect(patches_[i].entry, sizeof(void*), PAGE_READWRITE, &old);
    *patches_[i].entry = patches_[i].original;
    VirtualProtect(patches_[i].entry, sizeof(void*), old, &old);
  }
}

void AllocationCounter::Redirect(void** entry, void* replacement, void** original) {
  if (hooked_ == static_cast<int>(std::size(patches_))) return;
  DWORD old = 0;
  if (!VirtualProtect(entry, sizeof(void*), PAGE_READWRITE, &old)) return;
  *original = *entry;
  patches_[hooked_++] = {entry, *entry};
  *entry = replacement;
  VirtualProtect(entry, sizeof(void*), old, &old);
}

int64_t AllocationCounter::Count() { return g_count.load(); }
int64_t AllocationCounter::LiveBytes() { return g_live.load(); }
void AllocationCounter::Reset() { g_count.store(0); }

}  // namespace kivbench
