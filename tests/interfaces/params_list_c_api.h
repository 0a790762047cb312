// Functions of params_list_c_test.c, which is compiled as C: each drives a list interface
// through the C view's function tables and returns 0, or the source line of the first check
// that failed. `free_bstr` frees BSTRs that the C code receives.
#pragma once

#include "kiv/kiv_params_list.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*kivc_free_bstr_fn)(kivBSTR bstr);

int kivc_wide_list_round_trip(IkivParamsListW* list, kivc_free_bstr_fn free_bstr);
int kivc_ansi_list_round_trip(IkivParamsListA* list, kivc_free_bstr_fn free_bstr);

#ifdef __cplusplus
}
#endif
