// Start-up and shutdown of the module, in the order the framework needs.
#include "module/module_entry.h"

#include "framework/instance_registry.h"
#include "platform/module_allocator.h"
#include "support/timeout.h"

namespace kiv {

void ModuleProcessAttach() {
  AdoptHostAllocator();
  CurrentTickSource();  // the time-outs' tick source is chosen once, before any call can time out
  FrameworkInitialize(true);
}

void ModuleProcessDetach(bool processTerminating) {
  if (!processTerminating) FrameworkFinalize();
}

}  // namespace kiv
