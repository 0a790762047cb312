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
  r.Values = {{"RESULT", "input"}, Figure("calls", 2)};
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

// Each kind of value as text and as JSON: numbers, Booleans and null as JSON has them, the type
// beside; text shows the type wherever the value is not text.
TEST(FormatValues, ShowEachValuesTypeInTextAndJson) {
  struct Case {
    NamedValue value;
    const char* text;
    const char* json;
  };
  const Case cases[] = {
      {{"temp", "19.47", ValueType::Real}, "19.47 (real)", "19.47"},
      {{"n", "-42", ValueType::Int}, "-42 (int)", "-42"},
      {{"ok", "true", ValueType::Bool}, "true (bool)", "true"},
      {{"off", "false", ValueType::Bool}, "false (bool)", "false"},
      {{"row", "null", ValueType::Null}, "(null)", "null"},
      {{"none", "", ValueType::Empty}, "(empty)", "null"},
      {{"when", "46000.5", ValueType::Date}, "46000.5 (date)", "46000.5"},
      {{"big", "1e+300", ValueType::Real}, "1e+300 (real)", "1e+300"},
      {{"odd", "inf", ValueType::Real}, "inf (real)", "\"inf\""},  // no JSON number
      {{"nan", "-nan", ValueType::Real}, "-nan (real)", "\"-nan\""},
      {{"word", "42", ValueType::Text}, "42", "\"42\""},
      {{"calls", "34", ValueType::Count}, "34", "34"},
      {{"v", "<type 9>", ValueType::Other}, "<type 9>", "\"<type 9>\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DisplayValue(c.value), c.text) << c.value.Name;
    EXPECT_EQ(JsonValue(c.value), c.json) << c.value.Name;
  }
  RequestResult r;
  r.Items = {{"temp", "19.47", ValueType::Real}, {"$NEW_ROW$", "null", ValueType::Null}};
  r.Values = {{"RESULT", "39", ValueType::Int}};
  ExportRecord e;
  e.Name = "Vantrel_SendDataEx";
  e.Items = {{"A", "x"}, {"N", "5", ValueType::Int}, {"Z", "null", ValueType::Null}};
  r.Exports = {e};
  EXPECT_EQ(FormatText(r), "[0]  -> 0\n  RESULT: 39 (int)\n  item: temp = 19.47 (real)\n  item: $NEW_ROW$ = (null)\n"
                           "  export: Vantrel_SendDataEx() A=\"x\" N:int=5 Z:null\n");
  const std::string json = FormatJson(r);
  EXPECT_NE(json.find("\"values\":{\"RESULT\":39},\"types\":{\"RESULT\":\"int\"}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"items\":[{\"name\":\"temp\",\"value\":19.47,\"type\":\"real\"},"
                      "{\"name\":\"$NEW_ROW$\",\"value\":null,\"type\":\"null\"}]"),
            std::string::npos)
      << json;
}

// A long feed notifies the host once per call: equal notifications in a row fold into one line.
TEST(FormatText, FoldsRepeatedLogNotifications) {
  RequestResult r;
  r.Messages = {{1809, 1, 0}, {1809, 1, 0}, {1809, 1, 0}, {1809, 2, 0}, {1810, 1, 0}, {1810, 1, 0}, {1809, 1, 0}};
  EXPECT_EQ(FormatText(r),
            "[0]  -> 0\n"
            "  message: 1809 wparam=1 lparam=0 x3\n"
            "  message: 1809 wparam=2 lparam=0\n"
            "  message: 1810 wparam=1 lparam=0\n"
            "  message: 1810 wparam=1 lparam=0\n"
            "  message: 1809 wparam=1 lparam=0\n");
  EXPECT_NE(FormatJson(r).find("{\"message\":1809,\"wparam\":1,\"lparam\":0},{\"message\":1809,"), std::string::npos);
}

TEST(EscapeText, EscapesControlCharactersAndKeepsOtherBytes) {
  EXPECT_EQ(EscapeText(std::string("a\r\n\x1f\x7f\xe9\\", 7)), "a\\r\\n\\x1f\\x7f\xe9\\");
}

TEST(FormatJson, WritesOneObjectOnOneLine) {
  EXPECT_EQ(FormatJson(Sample()),
            "{\"line\":7,\"request\":\"feed data.bin chunk=4\",\"status\":\"returned\",\"code\":1,"
            "\"values\":{\"RESULT\":\"input\",\"calls\":2},\"types\":{\"RESULT\":\"text\",\"calls\":\"int\"},"
            "\"packets\":[\"line 1\",\"tab\\there\"],"
            "\"items\":[{\"name\":\"FIELD\",\"value\":\"x\\\\y\",\"type\":\"text\"}],"
            "\"log\":[{\"level\":1,\"flag\":false,\"text\":\"Title. done\"},{\"level\":0,\"flag\":true,\"text\":\"flagged\"}],"
            "\"messages\":[{\"message\":1809,\"wparam\":1,\"lparam\":0}],"
            "\"exports\":[{\"name\":\"Vantrel_SendDataEx\",\"args\":[1,0,9,0,129,4096,2],\"data\":\"a\\u0000\","
            "\"items\":[{\"name\":\"EVENT-TYPE\",\"value\":\"PORT-OPEN\",\"type\":\"text\"}]}]}");
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
