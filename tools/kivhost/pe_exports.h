// The export names of a 32-bit Windows DLL, read from its file bytes (not by loading it), so
// that the checker sees exactly what the loader's name look-up sees. Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivhost {

// The names of the export table in table order; empty when the DLL exports nothing. Nullopt
// when `file` is not a PE32 image or a structure it needs lies outside the file (every offset
// is checked before it is read).
std::optional<std::vector<std::string>> ReadPeExportNames(std::string_view file);

}  // namespace kivhost
