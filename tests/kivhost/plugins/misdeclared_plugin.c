/* An inner plugin whose exports do not follow the SDK: kivPluginLoad is cdecl (it leaves its
 * arguments on the stack), kivPluginEvent is exported under its decorated stdcall name, so the
 * module never finds it, and it claims an SDK newer than the module's. Built from the SDK alone. */
#include "kiv/kiv_plugin.h"

__declspec(dllexport) const uint32_t kivPluginSdkVersion = KIV_MAKE_VERSION(KIV_SDK_VERSION_MAJOR + 1, 0, 0);

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
