// Readability tests: live memory and text pass, null, unmapped and unterminated ranges fail.
#include "platform/readable_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {
namespace {

// An address in the first page, which no process maps.
const void* Unmapped() { return reinterpret_cast<const void*>(uintptr_t{16}); }

TEST(ReadableMemory, LiveRangesPassAndUnmappedOrNullOnesFail) {
  std::vector<char> block(10000, 'x');
  EXPECT_TRUE(IsReadableMemory(block.data(), block.size()));
  EXPECT_TRUE(IsReadableMemory(nullptr, 0));
  EXPECT_FALSE(IsReadableMemory(nullptr, 1));
  EXPECT_FALSE(IsReadableMemory(Unmapped(), 4));
  EXPECT_FALSE(IsReadableMemory(reinterpret_cast<const void*>(UINTPTR_MAX - 2), 8));  // wraps
}

TEST(ReadableMemory, TextIsMeasuredAcrossPagesAndRefusedWhenUnreadableOrTooLong) {
  const std::string long_text(9000, 'a');  // spans at least two pages
  std::string_view out;
  ASSERT_TRUE(ReadableText(long_text.c_str(), out));
  EXPECT_EQ(out.size(), long_text.size());
  EXPECT_FALSE(ReadableText(long_text.c_str(), out, 100));
  EXPECT_FALSE(ReadableText(static_cast<const char*>(nullptr), out));
  EXPECT_FALSE(ReadableText(static_cast<const char*>(Unmapped()), out));

  const std::u16string wide = u"wide text";
  std::u16string_view wide_out;
  ASSERT_TRUE(ReadableText(wide.c_str(), wide_out));
  EXPECT_EQ(wide_out, wide);
  EXPECT_FALSE(ReadableText(static_cast<const char16_t*>(Unmapped()), wide_out));
}

}  // namespace
}  // namespace kiv
