#include "platform/fast_pos.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kiv {
namespace {

TEST(FastPos, ReturnsOneBasedPositionOfFirstOccurrenceAtOrAfterStart) {
  EXPECT_EQ(FastPos("lo", "hello world, hello", 1), 4u);
  EXPECT_EQ(FastPos("lo", "hello world, hello", 0), 4u);
  EXPECT_EQ(FastPos("lo", "hello world, hello", 4), 4u);
  EXPECT_EQ(FastPos("lo", "hello world, hello", 5), 17u);
  EXPECT_EQ(FastPos("hello", "hello", 1), 1u);
  EXPECT_EQ(FastPos("Hello", "hello", 1), 0u);
}

TEST(FastPos, EmptyPatternOrNoRoomLeftGivesZero) {
  EXPECT_EQ(FastPos("", "abc", 1), 0u);
  EXPECT_EQ(FastPos("abcd", "abc", 1), 0u);
  EXPECT_EQ(FastPos("bc", "abc", 3), 0u);
  EXPECT_EQ(FastPos("c", "abc", 3), 3u);
  EXPECT_EQ(FastPos("c", "abc", 4), 0u);
  EXPECT_EQ(FastPos("c", "abc", 1000), 0u);
  EXPECT_EQ(FastPos("a", "", 1), 0u);
}

TEST(FastPos, HandlesRepeatsInPatternAndHighBytes) {
  EXPECT_EQ(FastPos("aab", "aaaaab", 1), 4u);
  EXPECT_EQ(FastPos("abab", "abaabababab", 1), 4u);
  EXPECT_EQ(FastPos("\xff\x80", "a\x80\xff\xff\x80", 1), 4u);
  EXPECT_EQ(FastPos(std::string_view("\0b", 2), std::string_view("a\0\0b", 4), 1), 3u);
}

TEST(FastPos, AgreesWithStringFindOnRandomTexts) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> letter('a', 'c');
  for (int round = 0; round < 2000; ++round) {
    std::string text(rng() % 40, ' '), pattern(1 + rng() % 4, ' ');
    for (char& c : text) c = static_cast<char>(letter(rng));
    for (char& c : pattern) c = static_cast<char>(letter(rng));
    const std::size_t start = rng() % (text.size() + 2);
    const std::size_t from = start == 0 ? 0 : start - 1;
    const std::size_t expected =
        from > text.size() ? 0 : (text.find(pattern, from) == std::string::npos
                                      ? 0
                                      : text.find(pattern, from) + 1);
    ASSERT_EQ(FastPos(pattern, text, start), expected) << pattern << " in " << text << " @" << start;
  }
}

TEST(FastPosSearcher, ReusesItsTableForSeveralSearches) {
  const FastPosSearcher search("<>");
  EXPECT_EQ(search.Find("a<>b<>c", 1), 2u);
  EXPECT_EQ(search.Find("a<>b<>c", 3), 5u);
  EXPECT_EQ(search.Find("a<>b<>c", 6), 0u);
}

}  // namespace
}  // namespace kiv
