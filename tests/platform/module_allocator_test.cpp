#include "platform/module_allocator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace kiv {
namespace {

int g_allocs = 0, g_frees = 0;
void* CountingAlloc(size_t n) { ++g_allocs; return std::malloc(n); }
void* CountingRealloc(void* p, size_t n) { return std::realloc(p, n); }
void CountingFree(void* p) { ++g_frees; std::free(p); }

TEST(ModuleAllocator, AllocatesResizesAndFreesKeepingContents) {
  auto* p = static_cast<char*>(ModuleAlloc(4));
  std::memcpy(p, "abc", 4);
  p = static_cast<char*>(ModuleRealloc(p, 1 << 16));
  EXPECT_STREQ(p, "abc");
  ModuleFree(p);
  ModuleFree(nullptr);
  void* zero = ModuleAlloc(0);
  EXPECT_NE(zero, nullptr);
  ModuleFree(zero);
}

TEST(ModuleAllocator, APublishedAllocatorIsUsedUntilTheDefaultIsRestored) {
  ModuleAllocator incomplete{&CountingAlloc, nullptr, &CountingFree};
  EXPECT_FALSE(SetModuleAllocator(&incomplete));
  ModuleAllocator counting{&CountingAlloc, &CountingRealloc, &CountingFree};
  ASSERT_TRUE(SetModuleAllocator(&counting));
  void* p = ModuleAlloc(16);
  ModuleFree(p);
  EXPECT_TRUE(SetModuleAllocator(nullptr));
  EXPECT_EQ(g_allocs, 1);
  EXPECT_EQ(g_frees, 1);
  ModuleFree(ModuleAlloc(8));
  EXPECT_EQ(g_allocs, 1);
}

// This executable publishes no allocator: the default stays, and the first outcome is kept.
TEST(ModuleAllocator, WithNothingPublishedAdoptionKeepsTheDefaultOnce) {
  ResetHostAllocatorForTesting();
  EXPECT_EQ(AdoptHostAllocator(), HostAllocatorAdoption::NotPublished);
  void* block = ModuleAlloc(8);
  EXPECT_NE(block, nullptr);
  ModuleFree(block);
  EXPECT_EQ(AdoptHostAllocator(), HostAllocatorAdoption::NotPublished);
  ResetHostAllocatorForTesting();
}

}  // namespace
}  // namespace kiv
