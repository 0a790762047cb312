#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <new>

#include "paramlist/variant_change.h"

namespace kiv {

static_assert(sizeof(VARIANT) == sizeof(TVarData), "TVarData has the VARIANT layout");

bool VarChangeTypeSystem(Variant& result, const TVarData& source, TVarType to, uint32_t lcid) {
  VARIANT in;
  std::memcpy(&in, &source, sizeof in);  // borrowed: the system only reads it
  TVarData* out = result.Put();
  const HRESULT hr = ::VariantChangeTypeEx(reinterpret_cast<VARIANT*>(out), &in, lcid, VARIANT_ALPHABOOL, to);
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) {
    result.Clear();
    return false;
  }
  return true;
}

bool VarChangeTypePlatform(Variant& result, const TVarData& source, TVarType to) {
  return VarChangeTypeSystem(result, source, to, LOCALE_USER_DEFAULT);
}

}  // namespace kiv
