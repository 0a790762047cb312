// The inner plugin of the proxy benchmarks, built from the SDK alone. On the plain path it does
// nothing; on the parser path it takes the bytes of its data source's buffer, delivers their
// first 64 as one packet and removes them all, as a parser that consumes its input would. Data
// sources whose name begins with "HOLD" keep their bytes (a parser waiting for the rest of a
// unit), and deliver nothing.
#include "kiv/kiv_plugin.h"

namespace {
IkivPluginEx* g_ex = nullptr;  // taken once, as a plugin keeps what it needs per instance
}

extern "C" {

void KIV_STDCALL kivPluginCreate(IkivPluginW* plugin) {
  plugin->QueryInterface(IID_IkivPluginEx, reinterpret_cast<void**>(&g_ex));
}

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH) || !g_ex) return;
  const char* name = rec->Rec.DataSourceName;
  if (name[0] == 'H' && name[1] == 'O' && name[2] == 'L' && name[3] == 'D') return;
  IkivFifoBuffer* buffer = nullptr;
  if (g_ex->GetParserClientBuffer(rec, &buffer) != KIV_S_OK) return;
  uint32_t size = 0;
  const uint8_t* data = nullptr;
  buffer->GetSize(&size);
  buffer->GetData(&data);
  kivWCHAR packet[65];
  const uint32_t n = size < 64 ? size : 64;
  for (uint32_t i = 0; i < n; ++i) packet[i] = static_cast<kivWCHAR>(data[i] ? data[i] : ' ');
  packet[n] = 0;
  IkivParamsListW* parsed = nullptr;
  if (n > 0 && plugin->GetParsedData(&parsed) == KIV_S_OK) {
    kivVARIANT value{};
    value.vt = KIV_VT_WIDE_POINTER;
    value.pwszVal = packet;
    parsed->Add(KIV_TEXT_W("FULL_DATA_PACKET"), &value, nullptr);
    parsed->Release();
  }
  buffer->Remove(size);
  buffer->Release();
  *result = n > 0 ? 1 : 0;
}

}  // extern "C"
