/* An inner plugin that does one thing wrong and consumes all data, so that only that is wrong.
 * By default it keeps references it was given: kivPluginLoad adds a reference to the call's
 * parameters and never releases it, and every data call on the parser path takes its FIFO buffer
 * and never releases it. With KIV_LEAK_ON_UNLOAD it releases what it takes, but every load leaves
 * a TLS slot and an event handle behind when it is unloaded, as a statically linked runtime that
 * does not clean up does (it then exports kivPluginProcessData alone). Built from the SDK alone. */
#ifdef KIV_LEAK_ON_UNLOAD
#include <windows.h>
#endif

#include "kiv/kiv_plugin.h"

#ifdef KIV_LEAK_ON_UNLOAD
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    TlsAlloc();
    CreateEventA(NULL, TRUE, FALSE, NULL);
  }
  return TRUE;
}
#else
void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin;
  (void)result;
  if (rec->ParamsW) rec->ParamsW->lpVtbl->AddRef(rec->ParamsW);
}
#endif

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  IkivPluginEx* ex = NULL;
  IkivFifoBuffer* buffer = NULL;
  uint32_t size = 0;
  (void)result;
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) return;
  if (plugin->lpVtbl->QueryInterface(plugin, &IID_IkivPluginEx, (void**)&ex) != KIV_S_OK) return;
  if (ex->lpVtbl->GetParserClientBuffer(ex, rec, &buffer) != KIV_S_OK) return;
  if (buffer->lpVtbl->GetSize(buffer, &size) == KIV_S_OK) buffer->lpVtbl->Remove(buffer, size);
#ifdef KIV_LEAK_ON_UNLOAD
  buffer->lpVtbl->Release(buffer);
#endif
}
