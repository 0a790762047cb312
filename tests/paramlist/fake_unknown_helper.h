// A minimal COM-style object that counts its references, for tests of interface values.
#pragma once

#include <cstdint>

#include "kiv/kiv_defs.h"

namespace kiv::test {

struct FakeUnknown {
  struct Vtbl {
    int32_t(KIV_STDCALL* QueryInterface)(FakeUnknown*, const void*, void**);
    uint32_t(KIV_STDCALL* AddRef)(FakeUnknown*);
    uint32_t(KIV_STDCALL* Release)(FakeUnknown*);
  };
  const Vtbl* vtbl;
  uint32_t refs = 1;

  FakeUnknown();
};

}  // namespace kiv::test
