#include <gtest/gtest.h>

#include "json_format.h"
#include "packet_text.h"
#include "result.h"
#include "text_format.h"

namespace kivhost {
namespace {

RequestResult Sample() {
  RequestResult r;
  r.Line = 7;
  r.Request = "feed data.bin chunk=4";
  r.Code = 1;
  r.Values = {{"RESULT", "input"}, {"calls", "2"}};
  r.Packets = {"line 1", "tab\there"};
  r.Items = {{"FIELD", "x\\y"}};
  r.Log = {std::string("\x02") + "Title. done", std::string("\x81") + "flagged"};
  r.Messages = {{1809, 1, 0}};
  ExportRecord e;
  e.Name = "Vantrel_SendDataEx";
  e.Args = {1, 0, 9, 0, 129, 4096, 2};
  e.Data = std::string("a\0", 2);
  e.Items = {{"EVENT-TYPE", "PORT-OPEN"}};
  r.Exports = {e};
  return r;
}

TEST(SplitPackets, SplitsAtTheSeparatorKeepingEmptyPackets) {
  EXPECT_TRUE(SplitPackets("").empty());
  EXPECT_EQ(SplitPackets("one"), (std::vector<std::string>{"one"}));
  EXPECT_EQ(SplitPackets("a<{[::]}>b<{[::]}><{[::]}>c"), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(SplitPackets("a<{[::]}>"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitPackets("a<{[::]>b"), (std::vector<std::string>{"a<{[::]>b"}));
}

TEST(ParseLogEntry, DecodesLevelAndFlagFromTheFirstCharacter) {
  const LogEntry plain = ParseLogEntry("\x03text");
  EXPECT_EQ(plain.Level, 2);
  EXPECT_FALSE(plain.Flag);
  EXPECT_EQ(plain.Text, "text");
  const LogEntry flagged = ParseLogEntry("\x81");
  EXPECT_EQ(flagged.Level, 0);
  EXPECT_TRUE(flagged.Flag);
  EXPECT_EQ(flagged.Text, "");
  EXPECT_EQ(ParseLogEntry("").Text, "");
}

TEST(FormatText, PrintsOneHeaderLineAndAnIndentedLinePerOutcome) {
  EXPECT_EQ(FormatText(Sample()),
            "[7] feed data.bin chunk=4 -> 1\n"
            "  RESULT: input\n"
            "  calls: 2\n"
            "  packet: line 1\n"
            "  packet: tab\\there\n"
            "  item: FIELD = x\\y\n"
            "  log[1]: Title. done\n"
            "  log[0,flag]: flagged\n"
            "  message: 1809 wparam=1 lparam=0\n"
            "  export: Vantrel_SendDataEx(1, 0, 9, 0, 129, 4096, 2) data=\"a\\x00\" EVENT-TYPE=\"PORT-OPEN\"\n");
  RequestResult faulted;
  faulted.Request = "create";
  faulted.Status = RequestStatus::Faulted;
  faulted.Error = "exception 0xc0000005";
  EXPECT_EQ(FormatText(faulted), "[0] create -> faulted (exception 0xc0000005)\n");
}

TEST(EscapeText, EscapesControlCharactersAndKeepsOtherBytes) {
  EXPECT_EQ(EscapeText(std::string("a\r\n\x1f\x7f\xe9\\", 7)), "a\\r\\n\\x1f\\x7f\xe9\\");
}

TEST(FormatJson, WritesOneObjectOnOneLine) {
  EXPECT_EQ(FormatJson(Sample()),
            "{\"line\":7,\"request\":\"feed data.bin chunk=4\",\"status\":\"returned\",\"code\":1,"
            "\"values\":{\"RESULT\":\"input\",\"calls\":\"2\"},\"packets\":[\"line 1\",\"tab\\there\"],"
            "\"items\":[{\"name\":\"FIELD\",\"value\":\"x\\\\y\"}],"
            "\"log\":[{\"level\":1,\"flag\":false,\"text\":\"Title. done\"},{\"level\":0,\"flag\":true,\"text\":\"flagged\"}],"
            "\"messages\":[{\"message\":1809,\"wparam\":1,\"lparam\":0}],"
            "\"exports\":[{\"name\":\"Vantrel_SendDataEx\",\"args\":[1,0,9,0,129,4096,2],\"data\":\"a\\u0000\","
            "\"items\":[{\"name\":\"EVENT-TYPE\",\"value\":\"PORT-OPEN\"}]}]}");
  RequestResult failed;
  failed.Status = RequestStatus::Failed;
  failed.Code = -3;
  failed.Error = "no instance";
  const std::string json = FormatJson(failed);
  EXPECT_NE(json.find("\"status\":\"failed\",\"code\":-3,\"error\":\"no instance\""), std::string::npos);
  EXPECT_EQ(json.find('\n'), std::string::npos);
}

TEST(FormatJson, KeepsObjectKeysUniqueWhenANameRepeats) {
  RequestResult r;
  r.Values = {{"finding", "a"}, {"RESULT", "1"}, {"finding", "b"}, {"finding", "c"}};
  EXPECT_NE(FormatJson(r).find("\"values\":{\"finding\":\"a\",\"RESULT\":\"1\",\"finding#2\":\"b\",\"finding#3\":\"c\"}"),
            std::string::npos);
}

TEST(JsonString, KeepsValidUtf8AndEscapesEverythingElse) {
  EXPECT_EQ(JsonString("\"q\" \\ \t\x01"), "\"\\\"q\\\" \\\\ \\t\\u0001\"");
  EXPECT_EQ(JsonString("\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
  // Lone, truncated, overlong and surrogate sequences: each byte as a Latin-1 character.
  EXPECT_EQ(JsonString("\xe9"), "\"\\u00e9\"");
  EXPECT_EQ(JsonString("\xc3"), "\"\\u00c3\"");
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
  EXPECT_EQ(JsonString("\xe0\x80\xaf"), "\"\\u00e0\\u0080\\u00af\"");
  EXPECT_EQ(JsonString("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");
}

}  // namespace
}  // namespace kivhost
