/* An inner plugin whose every entry point fails: with KIV_FAULT_FOREIGN it raises a structured
 * exception of its own (as another compiler's exception would arrive), otherwise it writes
 * through a null pointer (an access violation). Built from the SDK alone. */
#include <windows.h>

#include "kiv/kiv_plugin.h"

static void Fail(void) {
#ifdef KIV_FAULT_FOREIGN
  RaiseException(0xE0424242u, 0, 0, NULL);
#else
  *(volatile int*)0 = 1;
#endif
}

void KIV_STDCALL kivPluginCreate(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginDestroy(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin; (void)rec; (void)result; Fail();
}
void KIV_STDCALL kivPluginUnload(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin; (void)rec; (void)result; Fail();
}
void KIV_STDCALL kivPluginLoadSettingsNow(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginSaveSettingsNow(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginShowOptionsDialog(IkivPluginW* plugin, kivPluginCallRecIntf* rec, kivBOOL* shown) {
  *shown = KIV_TRUE; /* must not count: the dialog failed */
  (void)plugin; (void)rec; Fail();
}
void KIV_STDCALL kivPluginEvent(IkivPluginW* plugin, const kivWCHAR* type, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin; (void)type; (void)rec; (void)result; Fail();
}
void KIV_STDCALL kivPluginExecuteCustomCommand(IkivPluginW* plugin, const kivWCHAR* command, kivPluginCallRecIntf* rec,
                                               int32_t* result) {
  (void)plugin; (void)command; (void)rec; (void)result; Fail();
}
void KIV_STDCALL kivPluginStateChanged(IkivPluginW* plugin, uint32_t mask) { (void)plugin; (void)mask; Fail(); }
void KIV_STDCALL kivPluginSetParserItems(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin; (void)rec; (void)result; Fail();
}
