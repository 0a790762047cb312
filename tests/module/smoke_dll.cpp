// Test DLL: one stdcall export whose undecorated name comes from smoke_dll.def.
#include "kiv/kiv_defs.h"

KIV_EXTERN_C int KIV_STDCALL KivSmokeAdd(int a, int b) { return a + b; }
