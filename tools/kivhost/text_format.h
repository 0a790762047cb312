// Readable text for request results: one header line per request ("[line] request -> code"),
// then one indented line per value, packet, item, log line, message and export call. Texts are
// printed as they are, with control characters escaped, so that each stays on its line; paths
// keep their backslashes as written. Values that are not text show their type ("19.47 (real)");
// equal log notifications (message 1809) in a row fold into one line ending " xN". Pure.
#pragma once

#include <string>

#include "result.h"

namespace kivhost {

std::string FormatText(const RequestResult& result);
// Escapes control characters (\n, \r, \t, \xHH); other bytes, the backslash included, stay.
std::string EscapeText(std::string_view text);
// A value as the text output shows it: texts and kivhost's own figures as they are, null and
// empty as "(null)" and "(empty)", other values followed by their type ("1 (int)").
std::string DisplayValue(const NamedValue& value);

// The message that tells a host that new log lines wait.
inline constexpr uint32_t kLogNotifyMessage = 1809;

}  // namespace kivhost
