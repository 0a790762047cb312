// The line parser's core: line splitting over a stream that arrives in pieces, over-long lines,
// and fields with their recognised values.
#include "line_core.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace line_parser {
namespace {

std::vector<std::string> Texts(const ParseResult& r) {
  std::vector<std::string> texts;
  for (const Line& line : r.lines) texts.push_back(line.text);
  return texts;
}

// Feeds `chunks` as a FIFO would hold them: unconsumed bytes stay in front of the next chunk.
struct Stream {
  std::string held;
  ParseState state;
  std::vector<std::string> lines;
  std::vector<std::size_t> dropped;

  void Feed(std::string_view chunk, std::size_t max_line = kDefaultMaxLine) {
    held += chunk;
    ParseResult r = ParseLines(held, state, max_line);
    for (auto& t : Texts(r)) lines.push_back(t);
    dropped.insert(dropped.end(), r.dropped.begin(), r.dropped.end());
    held.erase(0, r.consumed);
  }
};

TEST(LineParser, LfAndCrLfEndLinesAndEmptyLinesAreSkipped) {
  ParseState state;
  const ParseResult r = ParseLines("a=1\r\nb=2\n\r\n\nlast", state);
  EXPECT_EQ(Texts(r), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(r.consumed, 12u);  // "last" waits for its line end
  EXPECT_TRUE(r.dropped.empty());
}

TEST(LineParser, PartialLineAndSplitCrLfWaitForTheNextCall) {
  Stream s;
  s.Feed("temp=2");
  EXPECT_TRUE(s.lines.empty());
  s.Feed("1.5\r");
  EXPECT_TRUE(s.lines.empty());
  EXPECT_EQ(s.held, "temp=21.5\r");
  s.Feed("\nnext");
  EXPECT_EQ(s.lines, (std::vector<std::string>{"temp=21.5"}));
  EXPECT_EQ(s.held, "next");
}

TEST(LineParser, ByteAtATimeGivesTheSameLinesAsOneBlock) {
  const std::string text = "x=1;y=2\r\n\nname=probe, ok=1\nz=3\n";
  Stream whole, bytes;
  whole.Feed(text);
  for (char c : text) bytes.Feed(std::string(1, c));
  EXPECT_EQ(bytes.lines, whole.lines);
  EXPECT_EQ(whole.lines.size(), 3u);
  EXPECT_TRUE(bytes.held.empty());
}

TEST(LineParser, OverLongLinesAreDroppedWholeEvenAcrossCalls) {
  Stream s;
  // Complete in one block: dropped at once, line end included in its length.
  s.Feed("abcdefghij\nok\n", 8);
  EXPECT_EQ(s.lines, (std::vector<std::string>{"ok"}));
  EXPECT_EQ(s.dropped, (std::vector<std::size_t>{11}));
  // Unfinished and already too long: skipped up to its end, which arrives two calls later.
  s.Feed("0123456789", 8);
  EXPECT_TRUE(s.held.empty());
  s.Feed("more", 8);
  s.Feed("tail\r\nafter\n", 8);
  EXPECT_EQ(s.lines, (std::vector<std::string>{"ok", "after"}));
  EXPECT_EQ(s.dropped, (std::vector<std::size_t>{11, 20}));
  EXPECT_FALSE(s.state.discarding);
}

TEST(LineParser, LineOfExactlyTheLimitIsKeptWhileItsLfIsPending) {
  Stream s;
  s.Feed("12345678\r", 8);  // CR may still be followed by LF
  EXPECT_EQ(s.held, "12345678\r");
  s.Feed("\n", 8);
  EXPECT_EQ(s.lines, (std::vector<std::string>{"12345678"}));
  s.Feed("123456789", 8);  // one byte over without CR: cannot fit any more
  EXPECT_TRUE(s.state.discarding);
}

TEST(LineParserFields, KeyValuePairsWithIntegersRealsAndText) {
  const std::vector<Field> f =
      SplitFields(" id = 17 ; temp=-3.25,unit=degC ;big=9223372036854775807;"
                  "huge=9223372036854775808; exp=1e3; plus=+4; sign=-");
  ASSERT_EQ(f.size(), 8u);
  EXPECT_EQ(f[0].name, "id");
  EXPECT_EQ(f[0].kind, Field::Kind::kInteger);
  EXPECT_EQ(f[0].integer, 17);
  EXPECT_EQ(f[1].kind, Field::Kind::kReal);
  EXPECT_DOUBLE_EQ(f[1].real, -3.25);
  EXPECT_EQ(f[2].kind, Field::Kind::kText);
  EXPECT_EQ(f[2].text, "degC");
  EXPECT_EQ(f[3].integer, INT64_MAX);
  EXPECT_EQ(f[4].kind, Field::Kind::kReal);  // beyond 64 bits: still a number
  EXPECT_EQ(f[5].kind, Field::Kind::kReal);
  EXPECT_DOUBLE_EQ(f[5].real, 1000);
  EXPECT_EQ(f[6].kind, Field::Kind::kInteger);
  EXPECT_EQ(f[6].integer, 4);
  EXPECT_EQ(f[7].kind, Field::Kind::kText);
}

TEST(LineParserFields, PartsWithoutKeyAndThePacketNameAreIgnored) {
  const std::vector<Field> f =
      SplitFields("plain text;=5;,;full_data_packet=x;FULL_DATA_PACKET=y;a=;b=1.2.3;c=inf");
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].name, "a");
  EXPECT_EQ(f[0].text, "");
  EXPECT_EQ(f[1].kind, Field::Kind::kText);  // not a number
  EXPECT_EQ(f[2].kind, Field::Kind::kText);  // words are never numbers
}

}  // namespace
}  // namespace line_parser
