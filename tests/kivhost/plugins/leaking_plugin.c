/* An inner plugin that keeps references it was given: kivPluginLoad adds a reference to the
 * call's parameters and never releases it, and every data call on the parser path takes its
 * FIFO buffer and never releases it. It consumes all data, so that only the references are
 * wrong. Built from the SDK alone. */
#include "kiv/kiv_plugin.h"

void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin;
  (void)result;
  if (rec->ParamsW) rec->ParamsW->lpVtbl->AddRef(rec->ParamsW);
}

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  IkivPluginEx* ex = NULL;
  IkivFifoBuffer* buffer = NULL;
  uint32_t size = 0;
  (void)result;
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) return;
  if (plugin->lpVtbl->QueryInterface(plugin, &IID_IkivPluginEx, (void**)&ex) != KIV_S_OK) return;
  if (ex->lpVtbl->GetParserClientBuffer(ex, rec, &buffer) == KIV_S_OK &&
      buffer->lpVtbl->GetSize(buffer, &size) == KIV_S_OK)
    buffer->lpVtbl->Remove(buffer, size);
}
