// The baseline of a data call: a DLL whose one export takes a pointer and does nothing, called
// as a host calls an entry point (stdcall, through an address from GetProcAddress).
#include "kiv/kiv_defs.h"

KIV_EXTERN_C void KIV_STDCALL KivBenchEmptyCall(void* record) { asm volatile("" : : "r"(record) : "memory"); }
