#include "settings/stream_reader.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

std::vector<std::string> ReadAll(std::string_view bytes, std::size_t bufferSize) {
  TMemoryStream stream(bytes);
  TStreamReader reader(&stream, bufferSize);
  std::vector<std::string> lines;
  for (std::string line; reader.ReadLine(line);) lines.push_back(line);
  return lines;
}

TEST(StreamReader, RefusesAMissingStream) {
  EXPECT_THROW(TStreamReader(nullptr), EInOutError);
  try {
    TStreamReader reader(nullptr);
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Stream is nil");
  }
}

TEST(StreamReader, SplitsAtEveryBreakFormAcrossBufferBoundaries) {
  // CR LF pairs land on every position relative to the 128-byte buffer edge.
  std::string text;
  std::vector<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    std::string line(static_cast<std::size_t>(i % 131), static_cast<char>('a' + i % 26));
    expected.push_back(line);
    text += line + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
  }
  EXPECT_EQ(ReadAll(text, 1), expected);  // raised to the 128-byte minimum
  EXPECT_EQ(ReadAll(text, 4096), expected);
}

TEST(StreamReader, KeepsLongLinesWholeAndEmptyLines) {
  const std::string longLine(10000, 'x');
  EXPECT_EQ(ReadAll(longLine + "\r\n\r\nlast", 128),
            (std::vector<std::string>{longLine, "", "last"}));
  EXPECT_TRUE(ReadAll("", 128).empty());
  EXPECT_EQ(ReadAll(std::string("a\0b\n", 4), 128),
            (std::vector<std::string>{std::string("a\0b", 3)}));
}

}  // namespace
}  // namespace kiv
