#include "paramlist/counted_string.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/module_allocator.h"

namespace kiv {
namespace {

int32_t HeaderField(const char* ref, int offset) {
  int32_t v;
  std::memcpy(&v, ref + offset, 4);
  return v;
}

TEST(CountedString, HasReferenceCountLengthAndTerminator) {
  char* s = CountedStrNew("name");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(HeaderField(s, -8), 1);
  EXPECT_EQ(HeaderField(s, -4), 4);
  EXPECT_EQ(s[4], '\0');
  EXPECT_EQ(CountedStrView(s), "name");
  CountedStrRelease(s);
}

TEST(CountedString, EmptyIsTheNullReference) {
  EXPECT_EQ(CountedStrNew(""), nullptr);
  EXPECT_EQ(CountedStrView(nullptr), "");
  CountedStrRelease(nullptr);
  EXPECT_EQ(CountedStrAddRef(nullptr), nullptr);
}

TEST(CountedString, SharedReferencesFreeOnTheLastRelease) {
  CountedString a("shared");
  CountedString b = a;
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(HeaderField(a.get(), -8), 2);
  b = CountedString("other");
  EXPECT_EQ(HeaderField(a.get(), -8), 1);
  EXPECT_EQ(b.view(), "other");
}

TEST(CountedString, ConstantsAreNeverCountedOrFreed) {
  // A constant as a host writes it: reference count -1.
  struct {
    int32_t refs = -1;
    int32_t length = 3;
    char text[4] = "abc";
  } constant;
  char* ref = constant.text;
  EXPECT_EQ(CountedStrAddRef(ref), ref);
  CountedStrRelease(ref);
  CountedStrRelease(ref);
  EXPECT_EQ(constant.refs, -1);
  EXPECT_EQ(CountedStrView(ref), "abc");
}

// Registered constants serve every later request for their text; other texts get new strings.
TEST(CountedString, RegisteredConstantsServeTheirTextWithoutAllocating) {
  static constexpr auto kName = MakeCountedConstant("REGISTERED_IN_TEST");
  ASSERT_TRUE(RegisterCountedConstant(kName.Ref()));
  EXPECT_EQ(HeaderField(kName.Ref(), -8), -1);
  EXPECT_EQ(HeaderField(kName.Ref(), -4), 18);
  CountedString same = CountedString::For("REGISTERED_IN_TEST");
  EXPECT_EQ(same.get(), kName.Ref());
  CountedString copy = same;  // constants are shared without counting
  EXPECT_EQ(kName.RefCount, -1);
  CountedString other = CountedString::For("REGISTERED_IN_TES");
  EXPECT_NE(other.get(), kName.Ref());
  EXPECT_EQ(HeaderField(other.get(), -8), 1);
  EXPECT_EQ(CountedString::For("").get(), nullptr);
}

}  // namespace
}  // namespace kiv
