/* An inner plugin whose exports do not follow the SDK: kivPluginLoad is cdecl (it leaves its
 * arguments on the stack), kivPluginEvent is exported under its decorated stdcall name, so the
 * module never finds it. Built from the SDK alone. */
#include "kiv/kiv_plugin.h"

void __cdecl kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin;
  (void)rec;
  (void)result;
}

void KIV_STDCALL kivPluginEvent(IkivPluginW* plugin, const kivWCHAR* type, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin;
  (void)type;
  (void)rec;
  (void)result;
}
