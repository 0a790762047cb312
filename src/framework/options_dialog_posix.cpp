// Module resources without Windows: a module file carries none here.
#include "framework/options_dialog.h"

namespace kiv {

TModuleResourceReader SystemModuleResourceReader() {
  return [](ModuleHandle, const std::string&) { return std::string(); };
}

}  // namespace kiv
