/* The SDK header compiled as C: the function tables have the slot order of the C++ classes,
 * and calls through them reach the module's list and item wrappers. */
#include <stddef.h>
#include <string.h>

#include "interfaces/c_view_check.h"
#include "interfaces/params_list_c_api.h"


#define SLOT(vtbl, name, n) _Static_assert(offsetof(vtbl, name) == (n) * sizeof(void*), #name)
SLOT(IkivParamsList_Vtbl, GetCount, 3);
SLOT(IkivParamsList_Vtbl, AppendAsRow, 11);
SLOT(IkivParamsListWVtbl, GetItem, 12);
SLOT(IkivParamsListWVtbl, GetValue, 17);
SLOT(IkivParamsListWVtbl, AddItem, 22);
SLOT(IkivParamsListAVtbl, AddItem, 22);
SLOT(IkivParamsListItemAVtbl, SetKey, 3);
SLOT(IkivParamsListItemAVtbl, IsRowMarker, 13);
SLOT(IkivParamsListItemWVtbl, IsRowMarker, 13);
SLOT(IkivParamsListItemWVtbl, GetValueW, 17);
_Static_assert(sizeof(IkivParamsListWVtbl) == 23 * sizeof(void*), "list table has 23 slots");
_Static_assert(sizeof(IkivParamsListItemWVtbl) == 18 * sizeof(void*), "item table has 18 slots");

int kivc_wide_list_round_trip(IkivParamsListW* list, kivc_free_bstr_fn free_bstr) {
  IkivParamsListItemW* item = NULL;
  IkivParamsListA* ansi = NULL;
  kivVARIANT value, out;
  int32_t index = -1;
  int32_t count;

  memset(&value, 0, sizeof value);
  value.vt = KIV_VT_I4;
  value.lVal = 42;
  CHECK(list->lpVtbl->Add(list, KIV_TEXT_W("Alpha"), &value, &item) == KIV_S_OK);
  CHECK(item != NULL);
  CHECK(wide_equals(item->lpVtbl->GetNameW(item), "Alpha"));
  CHECK(strcmp(item->lpVtbl->GetName(item), "Alpha") == 0);
  CHECK(strcmp(item->lpVtbl->GetKey(item), "alpha") == 0);
  CHECK(item->lpVtbl->Release(item) == 0);

  memset(&out, 0xAB, sizeof out);
  CHECK(list->lpVtbl->GetValue(list, KIV_TEXT_W("ALPHA"), -1, -1, &out) == KIV_S_OK);
  CHECK(out.vt == KIV_VT_I4 && out.lVal == 42);

  /* Text passed by pointer comes back as a BSTR. */
  value.vt = KIV_VT_WIDE_POINTER;
  value.pwszVal = KIV_TEXT_W("text");
  CHECK(list->lpVtbl->Add(list, KIV_TEXT_W("Beta"), &value, NULL) == KIV_S_OK);
  CHECK(list->lpVtbl->GetValue(list, KIV_TEXT_W("beta"), -1, -1, &out) == KIV_S_OK);
  CHECK(out.vt == KIV_VT_BSTR && wide_equals(out.bstrVal, "text"));
  free_bstr(out.bstrVal);

  /* The A form is the same object with the same count. */
  CHECK(list->lpVtbl->QueryInterface(list, &IID_IkivParamsListA, (void**)&ansi) == KIV_S_OK);
  CHECK(ansi != NULL && (void*)ansi != (void*)list);
  count = list->lpVtbl->AddRef(list);
  CHECK(ansi->lpVtbl->Release(ansi) == count - 1);
  CHECK(ansi->lpVtbl->IndexOf(ansi, "beta", -1, -1, &index) == KIV_S_OK && index == 1);
  CHECK(ansi->lpVtbl->GetCount(ansi) == 2);
  CHECK(ansi->lpVtbl->GetSignature(ansi) == KIV_PARAMS_LIST_SIGNATURE);
  ansi->lpVtbl->Release(ansi);
  return 0;
}

int kivc_ansi_list_round_trip(IkivParamsListA* list, kivc_free_bstr_fn free_bstr) {
  IkivParamsListItemA* item = NULL;
  IkivParamsListItemW* wide = NULL;
  kivVARIANT value, out;
  kivBOOL is_marker = KIV_FALSE;
  int32_t end = -1;

  memset(&value, 0, sizeof value);
  value.vt = KIV_VT_ANSI_STRING;
  value.pszVal = "xyz";
  CHECK(list->lpVtbl->Add(list, "Gamma", &value, &item) == KIV_S_OK);
  CHECK(item != NULL);
  CHECK(item->lpVtbl->GetValue(item, &out) == KIV_S_OK);
  CHECK(out.vt == KIV_VT_BSTR && wide_equals(out.bstrVal, "xyz"));
  free_bstr(out.bstrVal);

  /* The item answers the wide identifier with the same pointer. */
  CHECK(item->lpVtbl->QueryInterface(item, &IID_IkivParamsListItemW, (void**)&wide) == KIV_S_OK);
  CHECK((void*)wide == (void*)item);
  wide->lpVtbl->SetNameW(wide, KIV_TEXT_W("Delta"));
  CHECK(strcmp(item->lpVtbl->GetName(item), "Delta") == 0);
  CHECK(wide->lpVtbl->Release(wide) == 1);
  item->lpVtbl->SetDataType(item, 7);
  CHECK(item->lpVtbl->GetDataType(item) == 7);
  CHECK(item->lpVtbl->Release(item) == 0);

  list->lpVtbl->NewRow(list);
  CHECK(list->lpVtbl->FindRowEnd(list, 0, &end, &is_marker) == KIV_TRUE);
  CHECK(end == list->lpVtbl->GetCount(list) - 1 && is_marker == KIV_TRUE);
  CHECK(list->lpVtbl->GetItem(list, end, &item) == KIV_S_OK && item != NULL);
  CHECK(item->lpVtbl->IsRowMarker(item) == KIV_TRUE);
  CHECK(strcmp(item->lpVtbl->GetName(item), "$NEW_ROW$") == 0);
  item->lpVtbl->Release(item);
  return 0;
}
