/* An inner plugin that looks at its data on the parser path but never removes any of it from
 * the FIFO buffer. Built from the SDK alone. */
#include "kiv/kiv_plugin.h"

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  IkivPluginEx* ex = NULL;
  IkivFifoBuffer* buffer = NULL;
  uint32_t size = 0;
  *result = 0;
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) return;
  if (plugin->lpVtbl->QueryInterface(plugin, &IID_IkivPluginEx, (void**)&ex) != KIV_S_OK) return;
  if (ex->lpVtbl->GetParserClientBuffer(ex, rec, &buffer) != KIV_S_OK) return;
  buffer->lpVtbl->GetSize(buffer, &size);
  buffer->lpVtbl->Release(buffer);
}
