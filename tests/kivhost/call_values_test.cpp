#include "call_values.h"

#include <gtest/gtest.h>

#include "script.h"

namespace kivhost {
namespace {

using Words = std::vector<std::string>;

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
  EXPECT_EQ(NamedItems(items), (std::vector<NamedValue>{{"LANGUAGE", "d\xc3\xa9", ValueType::Text},
                                                         {"Speed", "-9600", ValueType::Int},
                                                         {"Ratio", "0.25", ValueType::Real},
                                                         {"Old", "null", ValueType::Null},
                                                         {"EMPTY", "", ValueType::Text}}));
}

TEST(CallValues, OtherVariantTypesGetReadableText) {
  HostValue flag{11, -1, 0, {}};
  EXPECT_EQ(ValueText(flag), "true");
  flag.Integer = 0;
  EXPECT_EQ(ValueText(flag), "false");
  EXPECT_EQ(ValueText(HostValue{}), "");
  EXPECT_EQ(ValueText(HostValue{9, 0, 0, {}}), "<type 9>");
}

TEST(CallValues, EachVariantTypeHasItsKind) {
  const std::pair<uint16_t, ValueType> cases[] = {
      {0, ValueType::Empty}, {1, ValueType::Null}, {2, ValueType::Int},   {3, ValueType::Int},
      {4, ValueType::Real},  {5, ValueType::Real}, {7, ValueType::Date},  {8, ValueType::Text},
      {11, ValueType::Bool}, {16, ValueType::Int}, {20, ValueType::Int},  {9, ValueType::Other},
  };
  for (const auto& [vt, type] : cases) EXPECT_EQ(ValueTypeOf(vt), type) << vt;
}

TEST(CallValues, RequestsThatAreCommandsBecomeTheirCommandsValues) {
  const auto names = [](const Words& words) {
    std::string out;
    for (const CallValue& v : CommandValues(BuildRequest(words)).value_or(std::vector<CallValue>{}))
      out += v.Name + "=" + v.Text + (v.Kind == CallValue::Type::Int ? std::to_string(v.Int) : "") + " ";
    return out;
  };
  EXPECT_EQ(names({"load", "LANGUAGE=en"}), "COMMAND=LOAD LANGUAGE=en ");
  EXPECT_EQ(names({"command", "GET-STATS", "N:int=2"}), "COMMAND=GET-STATS N=2 ");
  EXPECT_EQ(names({"get-param", "ModuleIndex"}), "COMMAND=GET-MODULE-PARAMETER PARAM=ModuleIndex ");
  EXPECT_EQ(names({"set-param", "LogTitle", "a=b"}), "COMMAND=SET-MODULE-PARAMETER PARAM=LogTitle VALUE=a=b ");
  EXPECT_EQ(names({"event", "PORT-OPEN", "X=1"}), "COMMAND=EVENT EVENT-TYPE=PORT-OPEN X=1 ");
  EXPECT_EQ(names({"feed", "f.bin"}), "");
  // A host's handles go to LOAD unless the script gives them.
  std::vector<CallValue> load = *CommandValues(BuildRequest({"load", "HANDLE:int=5"}));
  AddHostHandles(load, 7, 9);
  ASSERT_EQ(load.size(), 3u);
  EXPECT_EQ(load[1].Int, 5);
  EXPECT_EQ(load[2].Name, "MSG-PROC-HANDLE");
  EXPECT_EQ(load[2].Int, 7);
}

}  // namespace
}  // namespace kivhost
