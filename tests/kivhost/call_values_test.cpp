#include "call_values.h"

#include <gtest/gtest.h>

#include "script.h"

namespace kivhost {
namespace {

TEST(CallValues, ScriptValuesReachTheListTypedAndReadBackAsText) {
  const Request q = BuildRequest({"load", "LANGUAGE=d\xc3\xa9", "Speed:int=-9600", "Ratio:real=0.25", "Old:null",
                                  "EMPTY="});
  HostParamsList list;
  AddValues(list, q.Values);
  const std::vector<HostItem> items = list.Items();
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].Value.Type, 8);
  EXPECT_EQ(items[0].Value.Text, u"d\u00e9");
  EXPECT_EQ(items[1].Value.Type, 3);
  EXPECT_EQ(items[2].Value.Type, 5);
  EXPECT_EQ(items[3].Value.Type, 1);
  EXPECT_EQ(NamedItems(items), (std::vector<NamedValue>{{"LANGUAGE", "d\xc3\xa9"},
                                                         {"Speed", "-9600"},
                                                         {"Ratio", "0.25"},
                                                         {"Old", "null"},
                                                         {"EMPTY", ""}}));
}

TEST(CallValues, OtherVariantTypesGetReadableText) {
  HostValue flag{11, -1, 0, {}};
  EXPECT_EQ(ValueText(flag), "true");
  flag.Integer = 0;
  EXPECT_EQ(ValueText(flag), "false");
  EXPECT_EQ(ValueText(HostValue{}), "");
  EXPECT_EQ(ValueText(HostValue{9, 0, 0, {}}), "<type 9>");
}

}  // namespace
}  // namespace kivhost
