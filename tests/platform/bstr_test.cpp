#include "platform/bstr.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kiv {
namespace {

TEST(Bstr, HasTheLengthPrefixAndTerminator) {
  char16_t* b = BstrAlloc(u"abc", 3);
  ASSERT_NE(b, nullptr);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<unsigned char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(BstrLen(b), 3u);
  EXPECT_EQ(b[3], u'\0');
  EXPECT_EQ(BstrView(b), u"abc");
  BstrFree(b);
}

TEST(Bstr, KeepsEmbeddedZerosAndZeroFillsWithoutText) {
  char16_t* b = BstrAlloc(u"a\0b", 3);
  EXPECT_EQ(BstrView(b), std::u16string_view(u"a\0b", 3));
  BstrFree(b);
  char16_t* z = BstrAlloc(nullptr, 2);
  EXPECT_EQ(BstrLen(z), 2u);
  EXPECT_EQ(z[0], u'\0');
  EXPECT_EQ(z[1], u'\0');
  BstrFree(z);
}

TEST(Bstr, NullIsAnEmptyString) {
  EXPECT_EQ(BstrLen(nullptr), 0u);
  EXPECT_EQ(BstrView(nullptr), u"");
  BstrFree(nullptr);
}

TEST(UniqueBstr, ReleasesTheOldValueOnResetAndMoveAssignment) {
  UniqueBstr a = UniqueBstr::Copy(u"first");
  UniqueBstr b = UniqueBstr::Copy(u"second");
  a = std::move(b);  // frees "first"; the sanitizer build reports a leak otherwise
  EXPECT_EQ(a.view(), u"second");
  EXPECT_FALSE(b);
  a.reset(BstrAlloc(u"third"));
  EXPECT_EQ(a.view(), u"third");
  char16_t* raw = a.release();
  EXPECT_FALSE(a);
  UniqueBstr c(raw);
  EXPECT_EQ(c.size(), 5u);
  UniqueBstr d(std::move(c));
  EXPECT_EQ(d.view(), u"third");
  d = std::move(d);
  EXPECT_EQ(d.view(), u"third");
}

}  // namespace
}  // namespace kiv
