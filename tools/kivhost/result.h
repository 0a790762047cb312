// What one request produced, as the runner (runner.h) records it and the formatters
// (text_format.h, json_format.h) print it. Plain values; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivhost {

// What a named value holds: the variant types a list item may carry (integers of every width are
// Int; Other is a variant type kivhost does not read, its Value then tells the type code), and
// Count, a figure of kivhost's own (calls, bytes), which is a number but no list value.
enum class ValueType { Text, Int, Real, Bool, Date, Null, Empty, Other, Count };

// The type's name in the output ("real"); a Count is an "int".
const char* ValueTypeName(ValueType type) noexcept;

// A named value: a list item, a result value, a summary figure. Value is its text (UTF-8; numbers
// in decimal, Booleans "true"/"false", null "null", empty "").
struct NamedValue {
  std::string Name;
  std::string Value;
  ValueType Type = ValueType::Text;
  bool operator==(const NamedValue&) const = default;
};

// A figure of kivhost's own as a named value.
NamedValue Figure(std::string name, uint64_t value);

// A message the host window received.
struct MessageRecord {
  uint32_t Message = 0;
  uint64_t WParam = 0;
  int64_t LParam = 0;
};

// A call to one of the host's exported services.
struct ExportRecord {
  std::string Name;                // "Vantrel_SendDataEx"
  std::vector<uint64_t> Args;      // every argument, as passed
  std::string Data;                // the data block it pointed at (bytes)
  std::vector<NamedValue> Items;   // the list it passed
};

enum class RequestStatus {
  Returned,  // the entry point returned (Code holds its result)
  Missing,   // the module lacks the entry point, or nothing was loaded
  Faulted,   // a structured exception was contained (Error tells which)
  Failed,    // kivhost could not carry the request out (Error tells why)
};

const char* RequestStatusName(RequestStatus status) noexcept;

// A collected log line: the first character is the level + 1, plus 0x80 when the flag is set.
struct LogEntry {
  int Level = 0;
  bool Flag = false;
  std::string Text;
};
LogEntry ParseLogEntry(std::string_view line);

struct RequestResult {
  int Line = 0;
  std::string Request;
  RequestStatus Status = RequestStatus::Returned;
  int64_t Code = 0;
  std::string Error;
  std::vector<NamedValue> Values;     // result values of the call ("RESULT", "instance", figures)
  std::vector<std::string> Packets;   // packets delivered (the kind-4 block split at the separator)
  std::vector<NamedValue> Items;      // items delivered to the Output list
  std::vector<std::string> Log;       // log lines collected (level character, then text)
  std::vector<MessageRecord> Messages;
  std::vector<ExportRecord> Exports;
};

}  // namespace kivhost
