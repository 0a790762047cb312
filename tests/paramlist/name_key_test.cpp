#include "paramlist/name_key.h"

#include <gtest/gtest.h>

#include <string>

#include "paramlist/params_list.h"
#include "platform/code_page.h"

namespace {

using kiv::AnsiLowerCase;
using kiv::NameKey;

// The inline ASCII path and the system's mapping must give the same key for every name.
TEST(NameKey, AgreesWithTheSystemLowerCaseMapping) {
  std::string every_ascii;
  for (int c = 1; c < 128; ++c) every_ascii += static_cast<char>(c);
  for (size_t at = 0; at < every_ascii.size(); at += 32) {
    const std::string part = every_ascii.substr(at, 32);  // fits the inline buffer
    EXPECT_EQ(NameKey(part).view(), AnsiLowerCase(part));
  }
  EXPECT_EQ(NameKey(every_ascii).view(), AnsiLowerCase(every_ascii));
  for (size_t size : {0u, 1u, 127u, 128u, 129u, 300u}) {
    const std::string name(size, 'Q');
    EXPECT_EQ(NameKey(name).view(), AnsiLowerCase(name)) << size;
  }
  const std::string accented = "Gr\xC4" "DE_Sensor";  // a byte above 0x7F: the system maps it
  EXPECT_EQ(NameKey(accented).view(), AnsiLowerCase(accented));
  EXPECT_EQ(NameKey("").view(), "");
}

TEST(NameKey, IndexOfFindsNamesOnBothPaths) {
  kiv::TkivParamsList list;
  const std::string long_name = "Channel_" + std::string(80, 'X');
  list.Add("Alpha", kiv::Variant::Int32(1));
  list.Add(long_name, kiv::Variant::Int32(2));
  list.Add("Gr\xC4" "de", kiv::Variant::Int32(3));
  list.Add("Alphabet", kiv::Variant::Int32(4));
  EXPECT_EQ(list.IndexOf("ALPHA"), 0);
  EXPECT_EQ(list.IndexOf("alphabet"), 3);
  EXPECT_EQ(list.IndexOf("ALPH"), -1);
  EXPECT_EQ(list.IndexOf("channel_" + std::string(80, 'x')), 1);
  EXPECT_EQ(list.IndexOf(AnsiLowerCase("Gr\xC4" "DE")), 2);
  EXPECT_EQ(list.IndexOf("Gr\xC4" "DE"), 2);
}

}  // namespace
