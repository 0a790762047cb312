// TLogDataList: an instance's pending log messages, and the log entry format.
//
// A log entry is one level character (level + 1, with bit 7 set for the caller's flag) followed
// by the text. The list keeps one line per entry with a repeat count (further occurrences of the
// same entry) in the line's object slot, collapses repeats into " x" and a count, drops the
// oldest lines past its limit, and hands its text to the host (CopyOut). Any thread may use it:
// AddLine and CopyOut each run under the list's write lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/thread_string_list.h"

namespace kiv {

// Lines an instance's log keeps before dropping the oldest.
constexpr std::int32_t kLogLineLimit = 51200;

constexpr unsigned char kLogFlagBit = 0x80;

// Builds an entry: the level character, then `message` with every CR and LF replaced by a space,
// preceded by `title` + ". " when the title is not empty. The title's CR and LF become spaces
// too, so that an entry is always one line of the host's text.
std::string MakeLogEntry(std::uint8_t level, std::string_view message, bool flag,
                         std::string_view title = {});

// The parts of an entry made by MakeLogEntry. An empty entry has level 0, no flag, no text.
std::uint8_t LogEntryLevel(std::string_view entry);
bool LogEntryFlag(std::string_view entry);
std::string_view LogEntryText(std::string_view entry);

// What CopyOut did: `length` is the size of the log text (the host learns the size it needs from
// it), `copied` the bytes written to the buffer (0 or `length`).
struct TLogCopyResult {
  std::size_t length = 0;
  std::size_t copied = 0;
};

class TLogDataList : public TThreadStringList {
 public:
  // A negative limit counts as 0 (every line is dropped at once).
  explicit TLogDataList(std::int32_t limit = kLogLineLimit);
  std::string ClassName() const override { return "TLogDataList"; }

  std::int32_t Limit() const { return limit_; }

  // Appends `entry`, or counts it as a repeat when it equals the last line exactly. A last line
  // that has repeats and is followed by a different entry is first rewritten as line + " x" +
  // (repeats + 1). Then the oldest lines are deleted while there are more than the limit.
  // May throw std::bad_alloc; the list is then unchanged or holds the entry.
  void AddLine(const std::string& entry);

  // Takes the log text out: the repeats of the last line are folded into it (as in AddLine),
  // and the text is every line followed by CR LF.
  // - An empty log copies nothing.
  // - `size` 0: the log is cleared without copying (the host drops the messages).
  // - A text longer than `size`, or a null `buffer`: nothing is copied and the log is kept.
  // - Otherwise exactly `length` bytes, without a terminator, go to `buffer`, and the log is
  //   cleared. Nothing is ever written past `buffer` + `size`. A buffer that faults while it is
  //   written (it is foreign memory) copies nothing (`copied` 0) and keeps the log.
  TLogCopyResult CopyOut(char* buffer, std::size_t size);

  // The repeat count kept for line `index` of the locked list (EListError outside the list).
  static std::uint32_t RepeatCount(const TStringList& lines, int index);

 private:
  const std::int32_t limit_;
};

}  // namespace kiv
