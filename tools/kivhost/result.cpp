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

const char* ValueTypeName(ValueType type) noexcept {
  switch (type) {
    case ValueType::Text: return "text";
    case ValueType::Int: case ValueType::Count: return "int";
    case ValueType::Real: return "real";
    case ValueType::Bool: return "bool";
    case ValueType::Date: return "date";
    case ValueType::Null: return "null";
    case ValueType::Empty: return "empty";
    case ValueType::Other: return "other";
  }
  return "?";
}

NamedValue Figure(std::string name, uint64_t value) {
  return {std::move(name), std::to_string(value), ValueType::Count};
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
