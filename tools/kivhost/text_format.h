// Readable text for request results: one header line per request ("[line] request -> code"),
// then one indented line per value, packet, item, log line, message and export call. Texts are
// printed as they are, with control characters escaped, so that each stays on its line; paths
// keep their backslashes as written. Pure.
#pragma once

#include <string>

#include "result.h"

namespace kivhost {

std::string FormatText(const RequestResult& result);
// Escapes control characters (\n, \r, \t, \xHH); other bytes, the backslash included, stay.
std::string EscapeText(std::string_view text);

}  // namespace kivhost
