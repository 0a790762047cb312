#include "platform/guid.h"

#include <gtest/gtest.h>

#include <cctype>

namespace kiv {
namespace {

TEST(Guid, HasRegistryFormAndDiffersEachTime) {
  std::string a = NewGuidText(), b = NewGuidText();
  ASSERT_EQ(a.size(), 38u);
  EXPECT_EQ(a.front(), '{');
  EXPECT_EQ(a.back(), '}');
  for (size_t i : {9u, 14u, 19u, 24u}) EXPECT_EQ(a[i], '-') << a;
  for (size_t i = 1; i < 37; ++i)
    if (a[i] != '-') {
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(a[i])) && !std::islower(a[i])) << a;
    }
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace kiv
