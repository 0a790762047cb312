// JSON lines for request results: one object per request, on one line, for other tools.
// Fields: line, request, status, code, error (when set), values (object; a name that repeats
// gets "#2", "#3", ... so that keys stay unique), types (the values' types, same keys), packets,
// items ({name, value, type}), log, messages, exports (arrays). Values are JSON numbers,
// Booleans and null where they are such, else strings. Pure.
#pragma once

#include <string>
#include <string_view>

#include "result.h"

namespace kivhost {

// One line, without the line break.
std::string FormatJson(const RequestResult& result);
// A JSON string literal of `text`: valid UTF-8 is kept, other bytes become \u00XX (as Latin-1).
std::string JsonString(std::string_view text);
// A log line as {"level", "flag", "text"}.
std::string JsonLogEntry(const LogEntry& entry);
// A value as JSON: a number, true/false, null or a string, by its type.
std::string JsonValue(const NamedValue& value);

}  // namespace kivhost
