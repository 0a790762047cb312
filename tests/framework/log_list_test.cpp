#include "framework/log_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kiv {
namespace {

// The log's lines and repeat counts, read under the read lock.
std::vector<std::pair<std::string, std::uint32_t>> Lines(TLogDataList& log) {
  ReadLocked<TStringList> lines(log);
  std::vector<std::pair<std::string, std::uint32_t>> result;
  for (int i = 0; i < lines->Count(); ++i) {
    result.emplace_back(lines->Strings(i), TLogDataList::RepeatCount(*lines, i));
  }
  return result;
}

// Takes the whole log text out through a buffer with room to spare.
std::string TakeAll(TLogDataList& log) {
  std::string buffer(1 << 20, '\0');
  const TLogCopyResult taken = log.CopyOut(buffer.data(), buffer.size());
  EXPECT_EQ(taken.copied, taken.length);
  buffer.resize(taken.copied);
  return buffer;
}

TEST(LogEntry, EncodesLevelPlusOneAndTheFlagInTheFirstCharacter) {
  EXPECT_EQ(MakeLogEntry(0, "boom", false), std::string("\x01" "boom"));
  EXPECT_EQ(MakeLogEntry(2, "ok", true), std::string("\x83" "ok"));
  const std::string entry = MakeLogEntry(1, "msg", true, "Title");
  EXPECT_EQ(LogEntryLevel(entry), 1);
  EXPECT_TRUE(LogEntryFlag(entry));
  EXPECT_EQ(LogEntryText(entry), "Title. msg");
  EXPECT_FALSE(LogEntryFlag(MakeLogEntry(5, "", false)));
  EXPECT_EQ(LogEntryLevel(MakeLogEntry(5, "", false)), 5);
  EXPECT_EQ(LogEntryText(""), "");
}

TEST(LogEntry, ReplacesLineBreaksInTitleAndMessageButKeepsTheLevelCharacter) {
  // Level 9 encodes as a line feed: it is the level, not a break.
  const std::string entry = MakeLogEntry(9, "a\r\nb\rc\n", false, "T\n");
  EXPECT_EQ(entry, std::string("\n") + "T . a  b c ");
  EXPECT_EQ(LogEntryLevel(entry), 9);
}

TEST(TLogDataList, CollapsesRepeatsIntoACountWhenADifferentEntryFollows) {
  TLogDataList log;
  log.AddLine("\x02same");
  log.AddLine("\x02same");
  log.AddLine("\x02same");
  EXPECT_EQ(Lines(log), (decltype(Lines(log)){{"\x02same", 2}}));
  log.AddLine("\x02other");
  log.AddLine("\x03same");  // another level is another entry
  log.AddLine("\x03same");
  EXPECT_EQ(Lines(log), (decltype(Lines(log)){{"\x02same x3", 0}, {"\x02other", 0}, {"\x03same", 1}}));
  // Collection folds the repeats of the last line.
  EXPECT_EQ(TakeAll(log), "\x02same x3\r\n\x02other\r\n\x03same x2\r\n");
  EXPECT_EQ(log.Count(), 0);
}

TEST(TLogDataList, ComparesEntriesExactly) {
  TLogDataList log;
  log.AddLine("\x01Text");
  log.AddLine("\x01text");
  log.AddLine("\x01text ");
  EXPECT_EQ(log.Count(), 3);
}

TEST(TLogDataList, DropsTheOldestLinesPastTheLimit) {
  TLogDataList log(3);
  EXPECT_EQ(log.Limit(), 3);
  for (int i = 0; i < 5; ++i) log.AddLine("line" + std::to_string(i));
  log.AddLine("line4");  // a repeat adds no line
  EXPECT_EQ(Lines(log), (decltype(Lines(log)){{"line2", 0}, {"line3", 0}, {"line4", 1}}));
  log.AddLine("line5");
  EXPECT_EQ(TakeAll(log), "line3\r\nline4 x2\r\nline5\r\n");

  TLogDataList none(-1);
  none.AddLine("gone");
  EXPECT_EQ(none.Limit(), 0);
  EXPECT_EQ(none.Count(), 0);
  EXPECT_EQ(TLogDataList().Limit(), 51200);
}

TEST(TLogDataList, KeepsTheDefaultLimitOfLines) {
  TLogDataList log;
  for (int i = 0; i < kLogLineLimit + 10; ++i) log.AddLine(std::to_string(i));
  ReadLocked<TStringList> lines(log);
  ASSERT_EQ(lines->Count(), kLogLineLimit);
  EXPECT_EQ(lines->Strings(0), "10");
  EXPECT_EQ(lines->Strings(kLogLineLimit - 1), std::to_string(kLogLineLimit + 9));
}

class TLogDataListCopyOut : public ::testing::Test {
 protected:
  void SetUp() override {
    log.AddLine("\x01" "ab");
    log.AddLine("\x01" "ab");
    log.AddLine("\x02" "c");
  }
  static constexpr char kText[] = "\x01" "ab x2\r\n\x02" "c\r\n";
  static constexpr std::size_t kLength = sizeof kText - 1;
  TLogDataList log;
  // Guard bytes around the host's buffer show any write outside the stated size.
  std::string memory = std::string(64, '#');
  char* buffer = memory.data() + 8;
};

TEST_F(TLogDataListCopyOut, ExactBufferGetsTheTextWithoutTerminatorAndEmptiesTheLog) {
  const TLogCopyResult taken = log.CopyOut(buffer, kLength);
  EXPECT_EQ(taken.length, kLength);
  EXPECT_EQ(taken.copied, kLength);
  EXPECT_EQ(memory, std::string(8, '#') + kText + std::string(64 - 8 - kLength, '#'));
  EXPECT_EQ(log.Count(), 0);
  EXPECT_EQ(log.CopyOut(buffer, kLength).length, 0u);  // nothing waits any more
}

TEST_F(TLogDataListCopyOut, ShortBufferReportsTheLengthAndKeepsTheLogForTheRetry) {
  const TLogCopyResult first = log.CopyOut(buffer, kLength - 1);
  EXPECT_EQ(first.length, kLength);
  EXPECT_EQ(first.copied, 0u);
  EXPECT_EQ(memory, std::string(64, '#'));
  // Asking again reports the same length: the folded count is not appended twice.
  EXPECT_EQ(log.CopyOut(buffer, kLength - 1).length, kLength);
  const TLogCopyResult retry = log.CopyOut(buffer, first.length);
  EXPECT_EQ(retry.copied, kLength);
  EXPECT_EQ(std::string(buffer, retry.copied), kText);
}

TEST_F(TLogDataListCopyOut, RepeatAfterAKeptCollectionStartsANewLine) {
  log.AddLine("\x02" "c");
  EXPECT_EQ(log.CopyOut(buffer, 1).copied, 0u);  // folds "c" into "c x2"
  log.AddLine("\x02" "c");
  log.AddLine("\x02" "c");
  EXPECT_EQ(TakeAll(log), "\x01" "ab x2\r\n\x02" "c x2\r\n\x02" "c x2\r\n");
}

TEST_F(TLogDataListCopyOut, ZeroSizeDropsTheMessagesWithoutWriting) {
  const TLogCopyResult taken = log.CopyOut(buffer, 0);
  EXPECT_EQ(taken.length, kLength);
  EXPECT_EQ(taken.copied, 0u);
  EXPECT_EQ(log.Count(), 0);
  EXPECT_EQ(memory, std::string(64, '#'));
}

TEST_F(TLogDataListCopyOut, LargeBufferIsWrittenOnlyForTheTextLength) {
  const TLogCopyResult taken = log.CopyOut(buffer, 48);
  EXPECT_EQ(taken.copied, kLength);
  EXPECT_EQ(memory.substr(8 + kLength), std::string(64 - 8 - kLength, '#'));
}

TEST_F(TLogDataListCopyOut, NullBufferWithASizeCopiesNothingAndKeepsTheLog) {
  const TLogCopyResult taken = log.CopyOut(nullptr, 100);
  EXPECT_EQ(taken.length, kLength);
  EXPECT_EQ(taken.copied, 0u);
  EXPECT_EQ(log.Count(), 2);
}

TEST(TLogDataList, EmptyLogCopiesNothing) {
  TLogDataList log;
  char byte = '#';
  const TLogCopyResult taken = log.CopyOut(&byte, 1);
  EXPECT_EQ(taken.length, 0u);
  EXPECT_EQ(taken.copied, 0u);
  EXPECT_EQ(byte, '#');
}

TEST(TLogDataList, ConcurrentWritersLoseNoLineWhileAReaderCollects) {
  constexpr int kWriters = 4;
  constexpr int kPerWriter = 2000;
  TLogDataList log;
  std::atomic<int> running{kWriters};
  std::string collected;
  std::thread reader([&] {
    std::string buffer(1 << 16, '\0');
    for (;;) {
      const bool last = running.load() == 0;
      const TLogCopyResult taken = log.CopyOut(buffer.data(), buffer.size());
      ASSERT_TRUE(taken.copied == taken.length || taken.length > buffer.size());
      collected.append(buffer.data(), taken.copied);
      if (last) break;
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) log.AddLine(MakeLogEntry(1, std::to_string(w * kPerWriter + i), false));
      running.fetch_sub(1);
    });
  }
  for (auto& writer : writers) writer.join();
  reader.join();
  std::set<int> seen;
  std::size_t start = 0;
  while (start < collected.size()) {
    const std::size_t end = collected.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string entry = collected.substr(start, end - start);
    ASSERT_EQ(LogEntryLevel(entry), 1);
    EXPECT_TRUE(seen.insert(std::stoi(std::string(LogEntryText(entry)))).second) << entry;
    start = end + 2;
  }
  EXPECT_EQ(seen.size(), std::size_t{kWriters * kPerWriter});
}

}  // namespace
}  // namespace kiv
