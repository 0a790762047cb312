// Functions of plugin_sdk_c_test.c, which is compiled as C: each drives an interface of the
// plugin SDK through the C view's function tables and returns 0, or the source line of the
// first check that failed (in plugin_sdk_c_slots.inc for the two plugin forms).
#pragma once

#include "kiv/kiv_plugin.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*kivc_free_bstr_fn)(kivBSTR bstr);

// Call every slot of IkivPluginW or IkivPlugin. Expect the parsed-data slot set, the host's
// data service answering 42, one module configuration "Main" = 1 and the instance's INI file
// set; `rec` is passed to SendData. `free_bstr` frees BSTRs the C code receives.
int kivc_plugin_wide_slots(IkivPluginW* plugin, const kivPluginCallRecIntf* rec,
                           kivc_free_bstr_fn free_bstr);
int kivc_plugin_ansi_slots(IkivPlugin* plugin, const kivPluginCallRecIntf* rec,
                           kivc_free_bstr_fn free_bstr);
// Calls the slot of IkivPluginEx and every slot of the FIFO buffer it hands out for `rec`.
int kivc_plugin_ex_slots(IkivPluginEx* ex, const kivPluginCallRecIntf* rec);

#ifdef __cplusplus
}
#endif
