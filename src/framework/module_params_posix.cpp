// The program's command-line arguments natively, from the process's own argument block.
#include <fstream>
#include <iterator>
#include <string>

#include "framework/module_params.h"

namespace kiv {

bool ProgramHasArgument(std::string_view argument) {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string block((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t start = block.find('\0');  // the program name is not an argument
  while (start != std::string::npos && start + 1 < block.size()) {
    const std::size_t end = block.find('\0', start + 1);
    if (std::string_view(block).substr(start + 1, end - start - 1) == argument) return true;
    start = end;
  }
  return false;
}

}  // namespace kiv
