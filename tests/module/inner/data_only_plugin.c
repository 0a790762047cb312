/* An inner plugin that exports only kivPluginProcessData, written in C from the SDK alone: every
 * other request is handled as if there were no inner plugin. Its result is the Input value plus
 * one on the plain path, and the number of bytes it consumed on the parser path. */
#include "kiv/kiv_plugin.h"

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  IkivPluginEx* ex = 0;
  IkivFifoBuffer* buffer = 0;
  uint32_t size = 0;
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) {
    *result = (int32_t)rec->Rec.Input.Value + 1;
    return;
  }
  if (plugin->lpVtbl->QueryInterface(plugin, &IID_IkivPluginEx, (void**)&ex) != KIV_S_OK) return;
  if (ex->lpVtbl->GetParserClientBuffer(ex, rec, &buffer) != KIV_S_OK) return;
  buffer->lpVtbl->GetSize(buffer, &size);
  buffer->lpVtbl->Remove(buffer, size);
  buffer->lpVtbl->Release(buffer);
  *result = (int32_t)size;
}
