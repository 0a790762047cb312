// Readability on Windows, where pages are read under the structured-exception guard: pages that
// cannot be read fail without a fault reaching the test, a guard page stays guarded after a
// check tripped it, and the page-table answer agrees with the read.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

// Small copies take an inline path, larger ones the C runtime's: both copy exactly the bytes
// asked for, from any alignment, and neither reads past a readable range's end.
TEST(ReadableMemoryWin32, CopiesOfEverySizeAndAlignmentMatchMemcpy) {
  std::vector<unsigned char> source(700), expected(700), got(700);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 7 + 3);
  for (size_t size : {0u, 1u, 3u, 4u, 5u, 13u, 102u, 255u, 256u, 257u, 600u}) {
    for (size_t offset = 0; offset < 4; ++offset) {
      std::fill(expected.begin(), expected.end(), 0xEE);
      std::fill(got.begin(), got.end(), 0xEE);
      std::memcpy(expected.data() + offset, source.data() + (offset * 3) % 4, size);
      ASSERT_TRUE(ReadableCopy(got.data() + offset, source.data() + (offset * 3) % 4, size));
      EXPECT_EQ(got, expected) << size << " at " << offset;
    }
  }
  PageTrio trio(PAGE_NOACCESS);
  char copy[200] = {};
  EXPECT_TRUE(ReadableCopy(copy, trio.Page(1) - 102, 102));
  EXPECT_FALSE(ReadableCopy(copy, trio.Page(1) - 101, 102));
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
