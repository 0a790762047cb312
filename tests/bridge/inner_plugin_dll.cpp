// A test inner plugin built against the SDK alone: it receives a list interface from the
// module across a real DLL boundary, reads it and adds items in both forms. Each export returns
// 0, or the source line of the first check that failed.
#include <windows.h>
// after windows.h
#include <oleauto.h>

#include "kiv/kiv_params_list.h"

#define CHECK(cond) \
  if (!(cond)) return __LINE__

namespace {

// Releases an interface at the end of the scope.
template <class T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
  void** out() { return reinterpret_cast<void**>(&p); }
};

}  // namespace

// Reads "Input" (a number) and "Text" (a string), then adds "Doubled" through the W form,
// "Note" through the A form and "FirstName" (the wide name of item 0) with the W form's AddItem.
extern "C" int KIV_STDCALL InnerFillList(IkivParamsListW* list) {
  CHECK(list && list->GetSignature() == KIV_PARAMS_LIST_SIGNATURE);
  VARIANT input;
  VariantInit(&input);
  CHECK(list->GetValue(L"INPUT", -1, -1, reinterpret_cast<kivVARIANT*>(&input)) == KIV_S_OK);
  CHECK(input.vt == VT_I4);

  VARIANT text;
  VariantInit(&text);
  CHECK(list->GetValue(L"text", -1, -1, reinterpret_cast<kivVARIANT*>(&text)) == KIV_S_OK);
  CHECK(text.vt == VT_BSTR && SysStringLen(text.bstrVal) == 5 &&
        lstrcmpW(text.bstrVal, L"hello") == 0);
  VariantClear(&text);  // the module's BSTR goes back through the system

  VARIANT doubled;
  VariantInit(&doubled);
  doubled.vt = VT_I4;
  doubled.lVal = input.lVal * 2;
  CHECK(list->Add(L"Doubled", reinterpret_cast<kivVARIANT*>(&doubled), nullptr) == KIV_S_OK);

  Ref<IkivParamsListA> ansi;
  CHECK(list->QueryInterface(IID_IkivParamsListA, ansi.out()) == KIV_S_OK);
  kivVARIANT note = {};
  note.vt = KIV_VT_ANSI_STRING;
  note.pszVal = "from dll";
  Ref<IkivParamsListItemA> note_item;
  CHECK(ansi.p->Add("Note", &note, &note_item.p) == KIV_S_OK && note_item.p);
  note_item.p->SetDataType(VT_BSTR);

  Ref<IkivParamsListItemW> first;
  CHECK(list->GetItem(0, &first.p) == KIV_S_OK && first.p);
  kivVARIANT name = {};
  name.vt = KIV_VT_WIDE_POINTER;
  name.pwszVal = first.p->GetNameW();
  CHECK(list->SetValue(L"FirstName", &name, KIV_TRUE, nullptr) == KIV_S_OK);
  Ref<IkivParamsListItemW> copy;
  CHECK(list->AddItem(first.p, &copy.p) == KIV_S_OK && copy.p);
  return 0;
}

// Keeps an item interface of the list for InnerUseKeptItem.
static IkivParamsListItemA* g_kept = nullptr;

extern "C" int KIV_STDCALL InnerKeepItem(IkivParamsListA* list) {
  CHECK(list->Find("input", -1, -1, &g_kept) == KIV_S_OK && g_kept);
  return 0;
}

// Uses the kept item after the module deleted it: a failure code, never a crash. Releases it.
extern "C" int KIV_STDCALL InnerUseKeptItem(void) {
  CHECK(g_kept);
  VARIANT v;
  VariantInit(&v);
  const HRESULT status = g_kept->GetValue(reinterpret_cast<kivVARIANT*>(&v));
  g_kept->Release();
  g_kept = nullptr;
  CHECK(status == static_cast<HRESULT>(KIV_E_UNEXPECTED) && v.vt == VT_EMPTY);
  return 0;
}
