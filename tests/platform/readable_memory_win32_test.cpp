// Readability on Windows, where pages are read under the structured-exception guard: pages that
// cannot be read fail without a fault reaching the test, a guard page stays guarded after a
// check tripped it, and the page-table answer agrees with the read.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "platform/readable_memory.h"

namespace kiv {
namespace {

// Three pages: readable, then one with `protect`, then readable again; released at the end.
class PageTrio {
 public:
  explicit PageTrio(DWORD protect) {
    base_ = static_cast<char*>(VirtualAlloc(nullptr, 3 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    std::memset(base_, 'x', 3 * kPage);
    DWORD old = 0;
    VirtualProtect(base_ + kPage, kPage, protect, &old);
  }
  ~PageTrio() { VirtualFree(base_, 0, MEM_RELEASE); }
  char* Page(int i) const { return base_ + i * kPage; }
  DWORD ProtectOf(int i) const {
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(Page(i), &info, sizeof info);
    return info.Protect;
  }
  static constexpr size_t kPage = 4096;

 private:
  char* base_ = nullptr;
};

TEST(ReadableMemoryWin32, PagesThatCannotBeReadFailWhereverTheyLieInTheRange) {
  PageTrio trio(PAGE_NOACCESS);
  EXPECT_TRUE(IsReadableMemory(trio.Page(0), PageTrio::kPage));
  EXPECT_TRUE(IsReadableMemory(trio.Page(2), PageTrio::kPage));
  EXPECT_FALSE(IsReadableMemory(trio.Page(1) + 100, 1));
  EXPECT_FALSE(IsReadableMemory(trio.Page(0) + 10, 3 * PageTrio::kPage - 20));  // spans the hole
  EXPECT_FALSE(IsReadableMemory(trio.Page(1) - 1, 2));                          // ends inside it
  char copy[8] = {};
  EXPECT_TRUE(ReadableCopy(copy, trio.Page(1) - 8, 8));
  EXPECT_FALSE(ReadableCopy(copy, trio.Page(1) - 4, 8));
  EXPECT_FALSE(IsMappedReadable(trio.Page(1), 1));
  EXPECT_TRUE(IsMappedReadable(trio.Page(2), 16));
  std::string_view text;
  EXPECT_FALSE(ReadableText(trio.Page(1) - 16, text));  // runs into the hole before a terminator
}

TEST(ReadableMemoryWin32, AGuardPageIsRefusedAndStaysGuarded) {
  PageTrio trio(PAGE_READWRITE | PAGE_GUARD);
  EXPECT_FALSE(IsMappedReadable(trio.Page(1), 1));
  for (int round = 0; round < 2; ++round) {
    EXPECT_FALSE(IsReadableMemory(trio.Page(1), 1)) << round;
    EXPECT_TRUE(trio.ProtectOf(1) & PAGE_GUARD) << round;
  }
}

}  // namespace
}  // namespace kiv
