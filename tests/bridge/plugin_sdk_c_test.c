/* The plugin SDK header compiled as C: the converted call record's layout, the slot of every
 * function-table entry, and calls through the tables that reach the module's plugin wrapper. */
#include <stddef.h>
#include <string.h>

#include "bridge/plugin_sdk_c_api.h"
#include "interfaces/c_view_check.h"

#if defined(_WIN32) && !defined(_WIN64)
#define AT(type, field, n) _Static_assert(offsetof(type, field) == (n), #type "." #field)
AT(kivPluginCallValue, Counter, 0);
AT(kivPluginCallValue, Size, 4);
AT(kivPluginCallValue, Kind, 8);
AT(kivPluginCallValue, Value, 9);
_Static_assert(sizeof(kivPluginCallValue) == 13, "value slot is 13 bytes");
AT(kivPluginCallRec, Size, 0);
AT(kivPluginCallRec, Flags, 4);
AT(kivPluginCallRec, Instance, 5);
AT(kivPluginCallRec, ModuleIndex, 9);
AT(kivPluginCallRec, Context, 13);
AT(kivPluginCallRec, DataSourceId, 17);
AT(kivPluginCallRec, Options, 21);
AT(kivPluginCallRec, Params, 22);
AT(kivPluginCallRec, Input, 26);
AT(kivPluginCallRec, Output, 39);
AT(kivPluginCallRec, DataSourceName, 52);
_Static_assert(sizeof(kivPluginCallRec) == 102, "host record is 102 bytes");
AT(kivPluginCallRecIntf, Rec, 0);
AT(kivPluginCallRecIntf, ParamsW, 102);
_Static_assert(sizeof(kivPluginCallRecIntf) == 106, "converted record is 106 bytes");
#endif

#define SLOT(vtbl, name, n) _Static_assert(offsetof(vtbl, name) == (n) * sizeof(void*), #vtbl "." #name)
#define UNKNOWN_SLOTS(vtbl)     \
  SLOT(vtbl, QueryInterface, 0); \
  SLOT(vtbl, AddRef, 1);         \
  SLOT(vtbl, Release, 2)
#define PLUGIN_SLOTS(vtbl)                \
  UNKNOWN_SLOTS(vtbl);                    \
  SLOT(vtbl, AddLog, 3);                  \
  SLOT(vtbl, GetModuleParameter, 4);      \
  SLOT(vtbl, SetModuleParameter, 5);      \
  SLOT(vtbl, GetParsedData, 6);           \
  SLOT(vtbl, SetNamedObject, 7);          \
  SLOT(vtbl, GetNamedObject, 8);          \
  SLOT(vtbl, RemoveNamedObject, 9);       \
  SLOT(vtbl, GetParserItems, 10);         \
  SLOT(vtbl, GetModuleConfigs, 11);       \
  SLOT(vtbl, SendData, 12);               \
  SLOT(vtbl, CreateParamsList, 13);       \
  SLOT(vtbl, FireEvent, 14);              \
  SLOT(vtbl, ProcessSettings, 15);        \
  _Static_assert(sizeof(vtbl) == 16 * sizeof(void*), #vtbl " has 16 slots")
PLUGIN_SLOTS(IkivPluginWVtbl);
PLUGIN_SLOTS(IkivPluginAVtbl);
UNKNOWN_SLOTS(IkivPlugin_Vtbl);
_Static_assert(sizeof(IkivPlugin_Vtbl) == 3 * sizeof(void*), "IkivPlugin_ has only the base slots");
UNKNOWN_SLOTS(IkivPluginExVtbl);
SLOT(IkivPluginExVtbl, GetParserClientBuffer, 3);
_Static_assert(sizeof(IkivPluginExVtbl) == 4 * sizeof(void*), "IkivPluginEx has 4 slots");
UNKNOWN_SLOTS(IkivFifoBufferVtbl);
SLOT(IkivFifoBufferVtbl, GetSize, 3);
SLOT(IkivFifoBufferVtbl, GetData, 4);
SLOT(IkivFifoBufferVtbl, Clear, 5);
SLOT(IkivFifoBufferVtbl, Remove, 6);
_Static_assert(sizeof(IkivFifoBufferVtbl) == 7 * sizeof(void*), "IkivFifoBuffer has 7 slots");

static int is_bstr(const kivVARIANT* v, const char* ascii) {
  return v->vt == KIV_VT_BSTR && wide_equals(v->bstrVal, ascii);
}

int kivc_plugin_ex_slots(IkivPluginEx* ex, const kivPluginCallRecIntf* rec) {
  IkivFifoBuffer* buffer = NULL;
  uint32_t size = 0;
  const uint8_t* data = NULL;

  CHECK(ex->lpVtbl->AddRef(ex) == -1 && ex->lpVtbl->Release(ex) == -1);
  CHECK(ex->lpVtbl->GetParserClientBuffer(ex, rec, &buffer) == KIV_S_OK && buffer != NULL);
  /* The fake behind the buffer holds the 5 bytes "fifo!" and records Remove and Clear. */
  CHECK(buffer->lpVtbl->GetSize(buffer, &size) == KIV_S_OK && size == 5);
  CHECK(buffer->lpVtbl->GetData(buffer, &data) == KIV_S_OK && data != NULL);
  CHECK(memcmp(data, "fifo!", 5) == 0);
  CHECK(buffer->lpVtbl->Remove(buffer, 2) == KIV_S_OK);
  CHECK(buffer->lpVtbl->Clear(buffer) == KIV_S_OK);
  CHECK(buffer->lpVtbl->Release(buffer) == 0);
  return 0;
}

/* One body for both forms (plugin_sdk_c_slots.inc), with the form's types and texts. */
#define SLOTS_FN kivc_plugin_wide_slots
#define PLUGIN_T IkivPluginW
#define OTHER_T IkivPlugin
#define OTHER_IID IID_IkivPlugin
#define LIST_T IkivParamsListW
#define S(text) KIV_TEXT_W(text)
#define TEXT_VT KIV_VT_WIDE_POINTER
#define TEXT_FIELD pwszVal
#include "bridge/plugin_sdk_c_slots.inc"
#undef SLOTS_FN
#undef PLUGIN_T
#undef OTHER_T
#undef OTHER_IID
#undef LIST_T
#undef S
#undef TEXT_VT
#undef TEXT_FIELD

#define SLOTS_FN kivc_plugin_ansi_slots
#define PLUGIN_T IkivPlugin
#define OTHER_T IkivPluginW
#define OTHER_IID IID_IkivPluginW
#define LIST_T IkivParamsListA
#define S(text) text
#define TEXT_VT KIV_VT_ANSI_STRING
#define TEXT_FIELD pszVal
#include "bridge/plugin_sdk_c_slots.inc"
