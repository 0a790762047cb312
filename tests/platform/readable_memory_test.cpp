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

// The check of many addresses at once answers as IsReadableMemory of each would.
TEST(ReadableMemory, EachAddressOfAnArrayIsCheckedInOnePass) {
  std::vector<char> a(64, 'a'), b(5000, 'b');
  std::vector<const void*> addresses{a.data(), b.data(), a.data() + 32};
  EXPECT_TRUE(IsReadableEach(addresses.data(), addresses.size(), 32));
  EXPECT_TRUE(IsReadableEach(addresses.data(), 0, 32));
  for (const void* bad : {static_cast<const void*>(nullptr), Unmapped(),
                          reinterpret_cast<const void*>(UINTPTR_MAX - 2)}) {
    for (size_t at = 0; at < addresses.size(); ++at) {
      std::vector<const void*> some = addresses;
      some[at] = bad;
      bool each = true;
      for (const void* address : some) each = each && IsReadableMemory(address, 32);
      EXPECT_FALSE(each);
      EXPECT_EQ(IsReadableEach(some.data(), some.size(), 32), each) << at;
    }
  }
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
