// JSON lines for request results: one object per request, on one line, for other tools.
// Fields: line, request, status, code, error (when set), values (object; a name that repeats
// gets "#2", "#3", ... so that keys stay unique), packets, items, log, messages, exports
// (arrays). Pure.
#pragma once

#include <string>
#include <string_view>

#include "result.h"

namespace kivhost {

// One line, without the line break.
std::string FormatJson(const RequestResult& result);
// A JSON string literal of `text`: valid UTF-8 is kept, other bytes become \u00XX (as Latin-1).
std::string JsonString(std::string_view text);

}  // namespace kivhost
