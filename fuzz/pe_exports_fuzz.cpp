// The checker's reader of a DLL's export names on arbitrary file bytes: it must never read outside
// the file, and what it returns must be plausible: no more names than the file has bytes, each a
// text without its terminator.
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "pe_exports.h"

using kiv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const auto names = kivhost::ReadPeExportNames(file);
  if (!names) return 0;
  Check(names->size() <= size);  // no more names than bytes in the file
  size_t bytes = 0;
  for (const std::string& name : *names) {
    Check(name.find('\0') == std::string::npos);  // the terminator is not part of a name
    bytes += name.size();
  }
  Check(bytes <= size * names->size());  // every name lies within the file
  return 0;
}
