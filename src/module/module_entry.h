// The module's side of the library boundary: start-up and shutdown of a DLL built on the
// framework, shared by the product DLL and test modules so that both start alike.
//
// Called from DllMain only, under the loader lock.
#pragma once

namespace kiv {

// Process attach: adopts the host's allocator before anything allocates memory the host may
// see, chooses the tick source of the time-outs, then initialises the framework (registry,
// plugin class, shutdown procedures). Only memory and export look-ups happen here: nothing loads
// a library, waits or starts a thread.
void ModuleProcessAttach();

// Process detach. `processTerminating` (DllMain's reserved argument non-null) means the process
// is ending and its other threads are already gone, possibly holding our locks: nothing is
// freed then, the system reclaims the memory. Otherwise (FreeLibrary) the framework is
// finalised, freeing every instance still registered.
void ModuleProcessDetach(bool processTerminating);

}  // namespace kiv
