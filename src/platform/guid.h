// New globally unique identifiers in registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
// CoCreateGuid on Windows, a random version-4 GUID natively. Any thread may call it.
#pragma once

#include <string>

namespace kiv {

// A new GUID as 38 upper-case characters with braces.
std::string NewGuidText();

}  // namespace kiv
