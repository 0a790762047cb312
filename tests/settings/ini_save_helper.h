// Saves one integer through the settings component into an INI file, as the framework does.
#pragma once

#include <string>

namespace kiv::test {

// Saves `value` as the integer item `name` (section Common) into `iniFile`; Save's result.
bool SaveIniInteger(const std::string& iniFile, const std::string& name, int value);

}  // namespace kiv::test
