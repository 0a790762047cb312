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

// Adds "ByRef" (a reference to a variant holding 8-bit text by pointer) and "Array" (an array of
// variants whose first element is 8-bit text by pointer, the second a reference to one).
extern "C" int KIV_STDCALL InnerAddReferencedText(IkivParamsListA* list) {
  char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, 16));
  lstrcpyA(text, "referenced");
  kivVARIANT inner = {};
  inner.vt = KIV_VT_ANSI_STRING;
  inner.pszVal = text;
  kivVARIANT by_ref = {};
  by_ref.vt = KIV_VT_BYREF | KIV_VT_VARIANT;
  by_ref.byref = &inner;
  CHECK(list->Add("ByRef", &by_ref, nullptr) == KIV_S_OK);

  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  CHECK(array);
  kivVARIANT* elements = static_cast<kivVARIANT*>(array->pvData);
  elements[0] = inner;
  elements[1] = by_ref;
  kivVARIANT value = {};
  value.vt = VT_ARRAY | VT_VARIANT;
  value.byref = array;
  const kivHRESULT status = list->Add("Array", &value, nullptr);
  elements[0] = kivVARIANT{};  // the text is ours, not the array's
  elements[1] = kivVARIANT{};
  SafeArrayDestroy(array);
  HeapFree(GetProcessHeap(), 0, text);
  CHECK(status == KIV_S_OK);
  return 0;
}

// Keeps a reference to the list past the call, as COM allows, for InnerUseKeptList.
static IkivParamsListW* g_kept_list = nullptr;

extern "C" int KIV_STDCALL InnerKeepList(IkivParamsListW* list) {
  list->AddRef();
  g_kept_list = list;
  return 0;
}

// Uses the kept list after its owner freed it: failures with cleared outputs. Releases it.
extern "C" int KIV_STDCALL InnerUseKeptList(void) {
  CHECK(g_kept_list);
  IkivParamsListW* list = g_kept_list;
  g_kept_list = nullptr;
  const int32_t count = list->GetCount();
  const int32_t signature = list->GetSignature();
  list->Clear();
  kivVARIANT v = {};
  v.vt = VT_I4;
  IkivParamsListItemW* item = reinterpret_cast<IkivParamsListItemW*>(&v);
  const kivHRESULT added = list->Add(L"x", &v, &item);
  VARIANT out;
  out.vt = VT_I4;
  const kivHRESULT read = list->GetValue(L"input", -1, -1, reinterpret_cast<kivVARIANT*>(&out));
  list->Release();
  CHECK(count == 0 && signature == 0);
  CHECK(added == KIV_E_UNEXPECTED && item == nullptr);
  CHECK(read == KIV_E_UNEXPECTED && out.vt == VT_EMPTY);
  return 0;
}

// Passes pointers that are no list of the module as the other list of slots 11, 13 and 14: each
// call fails (or, for slot 11, changes nothing) and none of them is read as a list.
extern "C" int KIV_STDCALL InnerAppendNonLists(IkivParamsListW* list) {
  Ref<IkivParamsListA> ansi;
  CHECK(list->QueryInterface(IID_IkivParamsListA, ansi.out()) == KIV_S_OK);
  Ref<IkivParamsListItemW> item;
  CHECK(list->GetItem(0, &item.p) == KIV_S_OK && item.p);
  int not_a_list = 0;
  void* others[] = {&not_a_list, reinterpret_cast<void*>(16), item.p};
  const int32_t count = list->GetCount();
  for (void* other : others) {
    kivBOOL appended = KIV_TRUE;
    IkivParamsList_* as_list = static_cast<IkivParamsList_*>(other);
    CHECK(list->Append(as_list, &appended) == KIV_E_UNEXPECTED && appended == KIV_FALSE);
    CHECK(list->AppendRange(as_list, 0, -1, &appended) == KIV_E_UNEXPECTED);
    CHECK(ansi.p->Append(other, &appended) == KIV_E_UNEXPECTED && appended == KIV_FALSE);
    CHECK(ansi.p->AppendRange(other, 0, -1, &appended) == KIV_E_UNEXPECTED);
    list->AppendAsRow(as_list);
    CHECK(list->GetCount() == count);
  }
  return 0;
}
