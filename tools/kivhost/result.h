// What one request produced, as the runner (runner.h) records it and the formatters
// (text_format.h, json_format.h) print it. Plain values; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivhost {

// A named value: a list item, a result value, a summary figure. Texts are UTF-8.
struct NamedValue {
  std::string Name;
  std::string Value;
  bool operator==(const NamedValue&) const = default;
};

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
