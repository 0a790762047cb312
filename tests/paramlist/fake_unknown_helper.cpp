#include "paramlist/fake_unknown_helper.h"

namespace kiv::test {
namespace {

int32_t KIV_STDCALL Query(FakeUnknown*, const void*, void** out) {
  *out = nullptr;
  return KIV_E_NOINTERFACE;
}
uint32_t KIV_STDCALL AddRef(FakeUnknown* self) { return ++self->refs; }
uint32_t KIV_STDCALL Release(FakeUnknown* self) { return --self->refs; }

const FakeUnknown::Vtbl kVtbl{&Query, &AddRef, &Release};

}  // namespace

FakeUnknown::FakeUnknown() : vtbl(&kVtbl) {}

}  // namespace kiv::test
