/* An inner plugin whose every load leaves a TLS slot and an event handle behind when it is
 * unloaded, as a statically linked runtime that does not clean up does. It consumes all data
 * and releases what it takes, so that only the unload leak is wrong. Built from the SDK alone. */
#include <windows.h>

#include "kiv/kiv_plugin.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    TlsAlloc();
    CreateEventA(NULL, TRUE, FALSE, NULL);
  }
  return TRUE;
}

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  IkivPluginEx* ex = NULL;
  IkivFifoBuffer* buffer = NULL;
  uint32_t size = 0;
  (void)result;
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) return;
  if (plugin->lpVtbl->QueryInterface(plugin, &IID_IkivPluginEx, (void**)&ex) != KIV_S_OK) return;
  if (ex->lpVtbl->GetParserClientBuffer(ex, rec, &buffer) == KIV_S_OK) {
    if (buffer->lpVtbl->GetSize(buffer, &size) == KIV_S_OK) buffer->lpVtbl->Remove(buffer, size);
    buffer->lpVtbl->Release(buffer);
  }
}
