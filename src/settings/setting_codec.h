// The codec of stored setting texts: EncodeSettingText turns 8-bit ANSI text into a 7-bit form
// (UTF-8 with "%XX" escapes, "%%" for "%", "+" for leading and repeated spaces) that survives
// the registry and INI files; DecodeSettingText reverses it and passes unencoded text through.
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

std::string EncodeSettingText(std::string_view text);
std::string DecodeSettingText(std::string_view text);

}  // namespace kiv
