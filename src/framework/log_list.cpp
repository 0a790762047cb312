#include "framework/log_list.h"

#include <cstring>
#include <limits>

#include "platform/readable_memory.h"

namespace kiv {

namespace {

void* CountToObject(std::uint32_t count) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(count));
}

// Rewrites the last line as line + " x" + (repeats + 1) when it has repeats. The count is reset
// so that the line is never folded twice: a kept log (buffer too short) reports the same length
// on the next collection, and a later equal entry starts a new line instead of a second suffix.
void FoldLastRepeats(TStringList& lines) {
  const int last = lines.Count() - 1;
  if (last < 0) return;
  const std::uint32_t count = TLogDataList::RepeatCount(lines, last);
  if (count == 0) return;
  lines.Put(last, lines.Strings(last) + " x" + std::to_string(std::uint64_t{count} + 1));
  lines.PutObject(last, CountToObject(0));
}

}  // namespace

std::string MakeLogEntry(std::uint8_t level, std::string_view message, bool flag,
                         std::string_view title) {
  std::string entry;
  entry.reserve(1 + (title.empty() ? 0 : title.size() + 2) + message.size());
  entry.push_back(static_cast<char>(static_cast<std::uint8_t>(level + 1) | (flag ? kLogFlagBit : 0)));
  if (!title.empty()) {
    entry.append(title);
    entry.append(". ");
  }
  entry.append(message);
  for (std::size_t i = 1; i < entry.size(); ++i) {
    if (entry[i] == '\r' || entry[i] == '\n') entry[i] = ' ';
  }
  return entry;
}

std::uint8_t LogEntryLevel(std::string_view entry) {
  if (entry.empty()) return 0;
  return static_cast<std::uint8_t>((static_cast<std::uint8_t>(entry[0]) & ~kLogFlagBit) - 1);
}

bool LogEntryFlag(std::string_view entry) {
  return !entry.empty() && (static_cast<std::uint8_t>(entry[0]) & kLogFlagBit) != 0;
}

std::string_view LogEntryText(std::string_view entry) {
  return entry.empty() ? entry : entry.substr(1);
}

TLogDataList::TLogDataList(std::int32_t limit) : limit_(limit < 0 ? 0 : limit) {}

std::uint32_t TLogDataList::RepeatCount(const TStringList& lines, int index) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(lines.Objects(index)));
}

void TLogDataList::AddLine(const std::string& entry) {
  WriteLocked<TStringList> lines(*this);
  const int last = lines->Count() - 1;
  if (last >= 0 && lines->Strings(last) == entry) {
    const std::uint32_t count = RepeatCount(*lines, last);
    if (count < std::numeric_limits<std::uint32_t>::max()) {
      lines->PutObject(last, CountToObject(count + 1));
    }
  } else {
    FoldLastRepeats(*lines);
    lines->AddObject(entry, CountToObject(0));
  }
  while (lines->Count() > limit_) lines->Delete(0);
}

TLogCopyResult TLogDataList::CopyOut(char* buffer, std::size_t size) {
  TLogCopyResult result;
  WriteLocked<TStringList> lines(*this);
  FoldLastRepeats(*lines);
  const int count = lines->Count();
  for (int i = 0; i < count; ++i) result.length += lines->Strings(i).size() + 2;
  if (result.length == 0) return result;
  if (size == 0) {
    lines->Clear();
    return result;
  }
  if (result.length > size || buffer == nullptr) return result;
  // The buffer is the host's: each write is guarded, and one that fails keeps the log.
  static constexpr char kLineEnd[2] = {'\r', '\n'};
  char* out = buffer;
  for (int i = 0; i < count; ++i) {
    const std::string& line = lines->Strings(i);
    if (!WritableCopy(out, line.data(), line.size()) || !WritableCopy(out + line.size(), kLineEnd, 2)) return result;
    out += line.size() + 2;
  }
  lines->Clear();
  result.copied = result.length;
  return result;
}

}  // namespace kiv
