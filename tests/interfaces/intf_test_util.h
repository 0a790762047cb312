// Helpers for the list-interface tests: raw slot calls, owned variant outputs, captured error boxes.
#pragma once

#include <string>
#include <vector>

#include "interfaces/intf_ptr.h"
#include "interfaces/value_normalise.h"
#include "kiv/kiv_params_list.h"
#include "platform/error_box.h"

namespace kiv::test {

// Calls slot `slot` of the interface's function table with the interface pointer first.
template <class R, class... A>
R Slot(const void* intf, int slot, A... args) {
  using Fn = R(KIV_STDCALL*)(const void*, A...);
  const Fn* table = *static_cast<const Fn* const*>(intf);
  return table[slot](intf, args...);
}

// A variant output that frees its content at the end of the scope.
struct OutVariant {
  kivVARIANT v{};
  OutVariant() = default;
  OutVariant(const OutVariant&) = delete;
  OutVariant& operator=(const OutVariant&) = delete;
  ~OutVariant() { ClearVariant(&v); }
  // Frees the content and returns the address for an out argument.
  kivVARIANT* put() {
    ClearVariant(&v);
    return &v;
  }
  const kivVARIANT* operator->() const { return &v; }
};

inline kivVARIANT I4(int32_t n) {
  kivVARIANT v{};
  v.vt = KIV_VT_I4;
  v.lVal = n;
  return v;
}

inline kivVARIANT AnsiPtr(const char* text) {
  kivVARIANT v{};
  v.vt = KIV_VT_ANSI_STRING;
  v.pszVal = text;
  return v;
}

inline kivVARIANT WidePtr(const kivWCHAR* text, uint16_t vt = KIV_VT_WIDE_POINTER) {
  kivVARIANT v{};
  v.vt = vt;
  v.pwszVal = text;
  return v;
}

// An item interface of another module that does nothing: a base for test doubles, which
// override what they answer. It is not counted and never freed through Release.
class StubItem : public IkivParamsListItemW {
 public:
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID&, void** obj) override {
    *obj = nullptr;
    return KIV_E_NOINTERFACE;
  }
  int32_t KIV_STDCALL AddRef() override { return 1; }
  int32_t KIV_STDCALL Release() override { return 1; }
  void KIV_STDCALL SetKey(const char*) override {}
  void KIV_STDCALL SetDataType(int32_t) override {}
  void KIV_STDCALL SetState(uint8_t) override {}
  const char* KIV_STDCALL GetKey() override { return nullptr; }
  int32_t KIV_STDCALL GetDataType() override { return 0; }
  uint8_t KIV_STDCALL GetState() override { return 0; }
  kivHRESULT KIV_STDCALL SetValue(const kivVARIANT*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL GetValue(kivVARIANT*) override { return KIV_E_UNEXPECTED; }
  void KIV_STDCALL SetName(const char*) override {}
  const char* KIV_STDCALL GetName() override { return nullptr; }
  kivBOOL KIV_STDCALL IsRowMarker() override { return KIV_FALSE; }
  void KIV_STDCALL SetNameW(const kivWCHAR*) override {}
  const kivWCHAR* KIV_STDCALL GetNameW() override { return nullptr; }
  kivHRESULT KIV_STDCALL SetValueW(const kivVARIANT*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL GetValueW(kivVARIANT* value) override { return GetValue(value); }
};

// The text of a BSTR variant as 8-bit ASCII; "<vt N>" for any other type.
std::string TextOf(const kivVARIANT& v);
// UTF-16 text as 8-bit ASCII; "<null>" for null.
std::string Narrow(const kivWCHAR* text);

// Installs, while in scope, a module allocator that hands a freed block of the same size out
// again, newest first, so that a test can make a new object take a freed one's address.
// Everything allocated in the scope must be freed before it ends.
class RecyclingAllocator {
 public:
  RecyclingAllocator();
  ~RecyclingAllocator();
  RecyclingAllocator(const RecyclingAllocator&) = delete;
  RecyclingAllocator& operator=(const RecyclingAllocator&) = delete;
};

// Replaces the error box while in scope and records every message shown.
class ErrorBoxCapture {
 public:
  ErrorBoxCapture();
  ~ErrorBoxCapture();
  const std::vector<std::string>& Messages() const;

 private:
  ErrorBoxHandler previous_;
};

}  // namespace kiv::test
