// The page-wise readability check natively: a range is readable only when every page is, also
// past the first batch of pages the kernel is asked about at once.
#include "platform/readable_memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstddef>

namespace kiv {
namespace {

TEST(ReadableMemoryPosix, EveryPageOfALongRangeIsChecked) {
  constexpr size_t kPage = 4096, kPages = 200;
  void* mapped = mmap(nullptr, kPage * kPages, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  auto* base = static_cast<char*>(mapped);
  EXPECT_TRUE(IsReadableMemory(base + 10, kPage * kPages - 10));
  for (size_t hole : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{130}, kPages - 1}) {
    ASSERT_EQ(mprotect(base + hole * kPage, kPage, PROT_NONE), 0);
    EXPECT_FALSE(IsReadableMemory(base + 10, kPage * kPages - 10)) << "hole at page " << hole;
    EXPECT_FALSE(IsReadableMemory(base + hole * kPage + kPage - 1, 1)) << "hole at page " << hole;
    EXPECT_TRUE(hole == 0 || IsReadableMemory(base + 1, hole * kPage - 1)) << "before the hole at page " << hole;
    ASSERT_EQ(mprotect(base + hole * kPage, kPage, PROT_READ | PROT_WRITE), 0);
  }
  munmap(mapped, kPage * kPages);
}

}  // namespace
}  // namespace kiv
