#include "platform/seh_guard.h"

namespace kiv {

// No structured exceptions here: the call runs unguarded and always completes (a C++ exception
// propagates, as on Windows).
bool CallSehGuarded(SehGuardedProc proc, void* context, SehException* /*exception*/) {
  proc(context);
  return true;
}

std::size_t WalkFrameChain(uintptr_t, uintptr_t*, std::size_t) noexcept { return 0; }

}  // namespace kiv
