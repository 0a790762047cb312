// A library that a test module depends on, kept in the module's own folder only: the module loads
// only when that folder is searched for its dependencies.
#include <cstdint>

extern "C" __declspec(dllexport) int32_t KivHostDepValue() { return 4711; }
