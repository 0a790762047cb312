// The program's command-line arguments on Windows, split as the run-time library does: blanks and
// control characters separate arguments, double quotes group and are dropped.
#include <windows.h>

#include "framework/module_params.h"

namespace kiv {

bool ProgramHasArgument(std::string_view argument) {
  const char* p = GetCommandLineA();
  if (!p) return false;
  bool first = true;  // the program name is not an argument
  while (*p) {
    while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
    if (!*p) break;
    std::string current;
    bool quoted = false;
    for (; *p && (quoted || static_cast<unsigned char>(*p) > ' '); ++p) {
      if (*p == '"') {
        quoted = !quoted;
      } else {
        current += *p;
      }
    }
    if (!first && current == argument) return true;
    first = false;
  }
  return false;
}

}  // namespace kiv
