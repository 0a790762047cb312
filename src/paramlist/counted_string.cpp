#include "paramlist/counted_string.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "platform/module_allocator.h"

namespace kiv {
namespace {

struct Header {
  int32_t refCount;
  int32_t length;
};
static_assert(sizeof(Header) == 8 && offsetof(Header, length) == 4);  // CountedStrView reads it

Header* HeaderOf(const char* ref) {
  return reinterpret_cast<Header*>(const_cast<char*>(ref) - sizeof(Header));
}

// Registered constants: written during start-up only, then read by every thread.
constexpr size_t kMaxConstants = 16;
char* g_constants[kMaxConstants] = {};
size_t g_constant_count = 0;

}  // namespace

bool RegisterCountedConstant(char* ref) noexcept {
  if (!ref || g_constant_count == kMaxConstants) return false;
  g_constants[g_constant_count++] = ref;
  return true;
}

char* CountedStrFor(std::string_view text) {
  for (size_t i = 0; i < g_constant_count; ++i)
    if (CountedStrView(g_constants[i]) == text) return g_constants[i];
  return CountedStrNew(text);
}

char* CountedStrNew(std::string_view text) {
  if (text.empty()) return nullptr;
  if (text.size() > 0x7FFFFFF0u - sizeof(Header)) throw std::bad_alloc();
  auto* block = static_cast<char*>(ModuleAlloc(sizeof(Header) + text.size() + 1));
  Header header{1, static_cast<int32_t>(text.size())};
  std::memcpy(block, &header, sizeof header);
  char* chars = block + sizeof(Header);
  std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  return chars;
}

char* CountedStrAddRef(char* ref) noexcept {
  if (ref && __atomic_load_n(&HeaderOf(ref)->refCount, __ATOMIC_RELAXED) >= 0)
    __atomic_add_fetch(&HeaderOf(ref)->refCount, 1, __ATOMIC_RELAXED);
  return ref;
}

void CountedStrRelease(char* ref) noexcept {
  if (!ref) return;
  Header* h = HeaderOf(ref);
  if (__atomic_load_n(&h->refCount, __ATOMIC_RELAXED) < 0) return;  // constant
  if (__atomic_sub_fetch(&h->refCount, 1, __ATOMIC_ACQ_REL) == 0) ModuleFree(h);
}

}  // namespace kiv
