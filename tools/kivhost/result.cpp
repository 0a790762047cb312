#include "result.h"

namespace kivhost {

const char* RequestStatusName(RequestStatus status) noexcept {
  switch (status) {
    case RequestStatus::Returned: return "returned";
    case RequestStatus::Missing: return "missing";
    case RequestStatus::Faulted: return "faulted";
    case RequestStatus::Failed: return "failed";
  }
  return "?";
}

LogEntry ParseLogEntry(std::string_view line) {
  LogEntry entry;
  if (line.empty()) return entry;
  const auto code = static_cast<unsigned char>(line[0]);
  entry.Flag = (code & 0x80) != 0;
  entry.Level = static_cast<int>(code & 0x7F) - 1;
  entry.Text = std::string(line.substr(1));
  return entry;
}

}  // namespace kivhost
