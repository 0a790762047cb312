// A plugin module with a dependency beside it: ProcessData returns what the dependency answers.
#include <cstdint>

#include "kiv/kiv_defs.h"

extern "C" __declspec(dllimport) int32_t KivHostDepValue();

KIV_EXTERN_C int32_t KIV_STDCALL ProcessData(void*) { return KivHostDepValue(); }
