#include "interfaces/intf_test_util.h"

#include <cstdlib>
#include <cstring>

#include "platform/module_allocator.h"

namespace kiv::test {
namespace {

std::vector<std::string>& Captured() {
  static std::vector<std::string> messages;
  return messages;
}

void Record(const std::string& title, const std::string& text) {
  Captured().push_back(title.empty() ? text : title + ": " + text);
}

// Blocks carry their size in a header; freed ones wait in `Recycled()` for a request of that size.
struct BlockHeader {
  size_t size;
  alignas(16) unsigned char data[1];
};
constexpr size_t kHeader = offsetof(BlockHeader, data);

std::vector<BlockHeader*>& Recycled() {
  static std::vector<BlockHeader*> blocks;
  return blocks;
}

BlockHeader* HeaderOf(void* block) {
  return reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(block) - kHeader);
}

void* RecyclingAlloc(size_t size) {
  auto& blocks = Recycled();
  for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
    if ((*it)->size == size) {
      BlockHeader* reused = *it;
      blocks.erase(std::next(it).base());
      return reused->data;
    }
  }
  auto* header = static_cast<BlockHeader*>(std::malloc(kHeader + (size ? size : 1)));
  if (!header) return nullptr;
  header->size = size;
  return header->data;
}

void RecyclingFree(void* block) {
  if (block) Recycled().push_back(HeaderOf(block));
}

void* RecyclingRealloc(void* block, size_t size) {
  void* fresh = RecyclingAlloc(size);
  if (fresh && block) {
    const size_t old = HeaderOf(block)->size;
    std::memcpy(fresh, block, old < size ? old : size);
    RecyclingFree(block);
  }
  return fresh;
}

}  // namespace

RecyclingAllocator::RecyclingAllocator() {
  static const ModuleAllocator allocator{&RecyclingAlloc, &RecyclingRealloc, &RecyclingFree};
  SetModuleAllocator(&allocator);
}

RecyclingAllocator::~RecyclingAllocator() {
  SetModuleAllocator(nullptr);
  for (BlockHeader* header : Recycled()) std::free(header);
  Recycled().clear();
}

std::string Narrow(const kivWCHAR* text) {
  if (!text) return "<null>";
  std::string s;
  while (*text) s.push_back(static_cast<char>(*text++));
  return s;
}

std::string TextOf(const kivVARIANT& v) {
  if (v.vt != KIV_VT_BSTR) return "<vt " + std::to_string(v.vt) + ">";
  return v.bstrVal ? Narrow(v.bstrVal) : std::string();
}

ErrorBoxCapture::ErrorBoxCapture() : previous_(SetErrorBoxHandler(&Record)) { Captured().clear(); }
ErrorBoxCapture::~ErrorBoxCapture() { SetErrorBoxHandler(previous_); }
const std::vector<std::string>& ErrorBoxCapture::Messages() const { return Captured(); }

}  // namespace kiv::test
