#include "expect.h"

#include <gtest/gtest.h>

namespace kivhost {
namespace {

using Packets = std::vector<std::string>;

TEST(ExpectedPackets, TakesThePacketsOfJsonOutputAndPlainStrings) {
  Packets out;
  // A reference run as `kivhost --json` prints it; objects without packets add none.
  EXPECT_FALSE(ReadExpectedPackets(
      "{\"line\":1,\"request\":\"create\",\"values\":{\"instance\":\"0x1\"},\"types\":{},\"packets\":[]}\n"
      "{\"line\":2,\"values\":{\"n\":-1.5e3,\"ok\":true,\"x\":null,\"a\":[1,{\"b\":[]}]},\"packets\":[\"p1\",\"p\\\"2\"],\"items\":[]}\r\n"
      "\n"
      "  \"plain \\u00e9\\u00c3\\u00a9 \\ud83d\\ude00 \\t\"  \n"
      "{\"expect\":\"x\",\"result\":\"pass\"}",
      out));
  EXPECT_EQ(out, (Packets{"p1", "p\"2", "plain \xe9\xc3\xa9 \xf0\x9f\x98\x80 \t"}));
}

TEST(ExpectedPackets, RefusesWhatIsNotJsonWithTheLine) {
  const std::string bad[] = {
      "[\"a\"]",                       // neither object nor string
      "{\"packets\":[1]}",             // packets are strings
      "{\"packets\":[\"a\"]",          // unterminated
      "\"a\" \"b\"",                   // two values
      "{\"v\":tru}",                   // no literal
      "{\"v\":01x}",
      "\"\\ud800\"",                   // lone surrogate
      "\"\\u12\"",
      "\"a\tb\"",                      // raw control character
      "{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}",  // nested too deeply
  };
  for (const std::string& text : bad) {
    Packets out{"stale"};
    const auto error = ReadExpectedPackets("\"ok\"\n" + text, out);
    ASSERT_TRUE(error) << text;
    EXPECT_EQ(error->rfind("line 2: ", 0), 0u) << *error;
    EXPECT_TRUE(out.empty());
  }
}

TEST(ComparePackets, CountsDifferencesByPositionAndKeepsTheFirst) {
  EXPECT_TRUE(ComparePackets({"a", "b"}, {"a", "b"}).Match());
  const PacketComparison c = ComparePackets({"a", "b", "c", "d"}, {"a", "x", "c"}, 1);
  EXPECT_EQ(c.Differences, 2u);
  ASSERT_EQ(c.First.size(), 1u);
  EXPECT_EQ(c.First[0].Packet, 2u);
  EXPECT_EQ(FormatComparisonText(c, "want.jsonl"),
            "expect: FAIL: 2 packet(s) differ (3 delivered, 4 expected in want.jsonl)\n"
            "  packet 2:\n    expected:  b\n    delivered: x\n"
            "  ... and 1 more\n");
  const PacketComparison extra = ComparePackets({}, {"l\r\n"});
  EXPECT_EQ(FormatComparisonText(extra, "e"),
            "expect: FAIL: 1 packet(s) differ (1 delivered, 0 expected in e)\n"
            "  packet 1:\n    expected:  (none)\n    delivered: l\\r\\n\n");
  EXPECT_EQ(FormatComparisonJson(extra, "e"),
            "{\"expect\":\"e\",\"result\":\"fail\",\"delivered\":1,\"expected\":0,\"differences\":1,"
            "\"first\":[{\"packet\":1,\"expected\":null,\"delivered\":\"l\\r\\n\"}]}\n");
  EXPECT_EQ(FormatComparisonText(ComparePackets({"a"}, {"a"}), "e"), "expect: pass (1 delivered, 1 expected in e)\n");
}

}  // namespace
}  // namespace kivhost
