#include "script.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kivhost {
namespace {

using Words = std::vector<std::string>;

std::vector<Request> Parse(std::string_view script) {
  ScriptParser parser;
  ParsedScript parsed = parser.ParseScript(script);
  EXPECT_FALSE(parsed.Error) << parsed.Error->Line << ": " << parsed.Error->Message;
  return parsed.Requests;
}

ScriptError ErrorOf(std::string_view script) {
  ScriptParser parser;
  ParsedScript parsed = parser.ParseScript(script);
  EXPECT_TRUE(parsed.Error);
  return parsed.Error.value_or(ScriptError{});
}

TEST(SplitWords, SeparatesAtBlanksAndKeepsQuotedTextTogether) {
  EXPECT_EQ(SplitWords("  load  A=1\tB=\"x y\"  ", {}), (Words{"load", "A=1", "B=x y"}));
  EXPECT_EQ(SplitWords("set-param LogTitle \"\"", {}), (Words{"set-param", "LogTitle", ""}));
  EXPECT_EQ(SplitWords("a\"b c\"d", {}), (Words{"ab cd"}));
}

TEST(SplitWords, ResolvesEscapesOnlyInsideQuotes) {
  EXPECT_EQ(SplitWords(R"("a\"b\\c\n\t\x41\r")", {}), (Words{"a\"b\\c\n\tA\r"}));
  EXPECT_EQ(SplitWords(R"(a\nb)", {}), (Words{"a\\nb"}));
  EXPECT_EQ(SplitWords(R"("\x00")", {}), (Words{std::string(1, '\0')}));
  EXPECT_THROW(SplitWords(R"("\q")", {}), std::invalid_argument);
  EXPECT_THROW(SplitWords(R"("\x4")", {}), std::invalid_argument);
  EXPECT_THROW(SplitWords(R"("open)", {}), std::invalid_argument);
  EXPECT_THROW(SplitWords(R"("ends\)", {}), std::invalid_argument);
}

TEST(SplitWords, ExpandsVariablesInAndOutsideQuotes) {
  const std::map<std::string, std::string> vars{{"DIR", "C:\\data"}, {"N", "4"}, {"EMPTY", ""}};
  EXPECT_EQ(SplitWords("feed $DIR\\a.bin chunk=${N}0", vars), (Words{"feed", "C:\\data\\a.bin", "chunk=40"}));
  EXPECT_EQ(SplitWords("\"$DIR x\" $$N a$ \"\\$N\"", vars), (Words{"C:\\data x", "$N", "a$", "$N"}));
  EXPECT_EQ(SplitWords("x=$EMPTY", vars), (Words{"x="}));
  EXPECT_THROW(SplitWords("$MISSING", vars), std::invalid_argument);
  EXPECT_THROW(SplitWords("${N", vars), std::invalid_argument);
}

TEST(SplitWords, CommentStartsOnlyAtTheBeginningOfAWord) {
  EXPECT_EQ(SplitWords("# all comment", {}), Words{});
  EXPECT_EQ(SplitWords("log # collect", {}), (Words{"log"}));
  EXPECT_EQ(SplitWords("command A#B \"#C\"", {}), (Words{"command", "A#B", "#C"}));
}

TEST(BuildRequest, TellsOptionsFromCallValuesByTheKeysCase) {
  const Request q = BuildRequest({"feed", "data.bin", "chunk=0x10", "source=3", "name=COM1", "path=plain",
                                  "options=4", "TEST-ACTION=DELIVER", "Speed:int=-5", "Ratio:real=2.5", "Gone:null"});
  EXPECT_EQ(q.Kind, RequestKind::Feed);
  EXPECT_EQ(FeedSources(q.Feed), (std::vector<FeedSource>{{"data.bin", 3, "COM1"}}));
  EXPECT_EQ(q.Feed.Chunk, 16u);
  EXPECT_FALSE(q.Feed.ParserPath);
  EXPECT_EQ(q.Feed.Options, 4);
  ASSERT_EQ(q.Values.size(), 4u);
  EXPECT_EQ(q.Values[0].Name, "TEST-ACTION");
  EXPECT_EQ(q.Values[0].Text, "DELIVER");
  EXPECT_EQ(q.Values[1].Kind, CallValue::Type::Int);
  EXPECT_EQ(q.Values[1].Int, -5);
  EXPECT_EQ(q.Values[2].Kind, CallValue::Type::Real);
  EXPECT_DOUBLE_EQ(q.Values[2].Real, 2.5);
  EXPECT_EQ(q.Values[3].Kind, CallValue::Type::Null);
}

TEST(BuildRequest, TakesPositionalArgumentsPerKind) {
  EXPECT_EQ(BuildRequest({"command", "SAVE-SETTINGS-NOW", "INI-FILE=a.ini"}).Name, "SAVE-SETTINGS-NOW");
  EXPECT_EQ(BuildRequest({"event", "PORT-OPEN"}).Name, "PORT-OPEN");
  EXPECT_EQ(BuildRequest({"get-param", "ModuleIndex"}).Name, "ModuleIndex");
  // set-param keeps its value as written, "=" included.
  const Request set = BuildRequest({"set-param", "LogTitle", "a=b"});
  EXPECT_EQ(set.Name, "LogTitle");
  EXPECT_EQ(set.Value, "a=b");
  EXPECT_TRUE(set.Values.empty());
  EXPECT_EQ(BuildRequest({"dialog-form", "form=portform", "size=100"}).Name, "portform");
  EXPECT_EQ(BuildRequest({"log", "size=0"}).Size, 0u);
  EXPECT_FALSE(BuildRequest({"log"}).Size);
  EXPECT_EQ(BuildRequest({"dialog", "options=3"}).Options, 3);
  const Request stress = BuildRequest({"stress", "d.bin", "threads=8", "sources=16"});
  EXPECT_EQ(stress.Stress.Threads, 8);
  EXPECT_EQ(stress.Stress.Sources, 16);
  EXPECT_TRUE(stress.Feed.ParserPath);
}

TEST(BuildRequest, FeedsSeveralFilesEachOnASourceOfItsOwn) {
  struct Case {
    Words words;
    std::vector<FeedSource> sources;
  };
  const Case cases[] = {
      {{"feed", "a.bin"}, {{"a.bin", 1, "source1"}}},
      {{"feed", "a.bin", "b.bin", "c.bin", "source=7"}, {{"a.bin", 7, "source7"}, {"b.bin", 8, "source8"}, {"c.bin", 9, "source9"}}},
      {{"feed", "a.bin", "b.bin", "source=4,2", "name=COM4,COM2"}, {{"a.bin", 4, "COM4"}, {"b.bin", 2, "COM2"}}},
      {{"feed", "a.bin", "b.bin", "name=,GPS"}, {{"a.bin", 1, "source1"}, {"b.bin", 2, "GPS"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(FeedSources(BuildRequest(c.words).Feed), c.sources) << c.words.size();
  EXPECT_EQ(BuildRequest({"stress", "d.bin", "setup=opts.kvh"}).Stress.Setup, "opts.kvh");
}

TEST(BuildRequest, RefusesWhatItCannotCarryOut) {
  for (const Words& words : std::vector<Words>{
           {"launch"},                          // unknown request
           {"LOAD"},                            // request words are lower case
           {"command"},                         // missing name
           {"get-param", "A", "B"},             // one too many
           {"free", "X=1"},                     // takes no values
           {"feed", "f", "chunk=0"},            // chunk below 1
           {"feed", "f", "chunk=12k"},          // not a number
           {"feed", "f", "path=fast"},          // unknown path
           {"feed", "f", "threads=2"},          // option of another request
           {"feed", "f", "setup=s.kvh"},
           {"feed", "a", "b", "source=1,2,3"},  // ids do not pair up with the files
           {"feed", "a", "b", "name=COM1"},     // nor names
           {"feed", "a", "b", "source=2,2"},    // two files on one source
           {"feed", "a", "source=1,x"},
           {"stress", "f", "g"},                // one file
           {"stress", "f", "source=1,2"},
           {"stress", "f", "threads=65"},       // out of range
           {"dialog", "options=256"},
           {"load", "A:int=x"},                 // typed value of the wrong form
           {"load", "A:int=4294967296"},
           {"load", "A:date=1"},
           {"load", "A:null=1"},
           {"load", ":int=1"},
       }) {
    EXPECT_THROW(BuildRequest(words), std::invalid_argument) << words[0] << " " << (words.size() > 1 ? words[1] : "");
  }
}

TEST(ScriptParser, RunsLineByLineWithVariablesAndComments) {
  const std::vector<Request> requests = Parse(
      "# a session\r\n"
      "set LANG en\n"
      "\n"
      "module plugin.dll\n"
      "create\n"
      "load LANGUAGE=$LANG   # the host's language\n"
      "set LANG de\n"
      "load LANGUAGE=\"${LANG} x\"\n"
      "free");
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].Kind, RequestKind::Module);
  EXPECT_EQ(requests[0].Line, 4);
  EXPECT_EQ(requests[2].Values[0].Text, "en");
  EXPECT_EQ(requests[2].Text, "load LANGUAGE=en");
  EXPECT_EQ(requests[3].Values[0].Text, "de x");
  EXPECT_EQ(requests[3].Text, "load \"LANGUAGE=de x\"");
  EXPECT_EQ(requests[4].Line, 9);
}

TEST(ScriptParser, ReportsTheFirstBadLineAndStops) {
  const ScriptError unknown = ErrorOf("create\nset X 1\nload A=$Y\nbogus\n");
  EXPECT_EQ(unknown.Line, 3);
  EXPECT_NE(unknown.Message.find("$Y"), std::string::npos);
  EXPECT_EQ(ErrorOf("set 1X a").Line, 1);
  EXPECT_EQ(ErrorOf("set X").Line, 1);
  EXPECT_EQ(ErrorOf("\n\nset X-Y 1").Line, 3);
}

TEST(ScriptParser, KeepsDefinitionsFromOutsideAndAcrossLines) {
  ScriptParser parser;
  parser.Define("SCRIPT_DIR", "C:\\s");
  std::vector<Request> out;
  EXPECT_FALSE(parser.ParseLine("set F $SCRIPT_DIR\\d.bin", 1, out));
  EXPECT_FALSE(parser.ParseLine("feed $F", 2, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Feed.Files, std::vector<std::string>{"C:\\s\\d.bin"});
  // A failed line leaves what was parsed before.
  EXPECT_TRUE(parser.ParseLine("feed", 3, out));
  EXPECT_EQ(out.size(), 1u);
}

}  // namespace
}  // namespace kivhost
