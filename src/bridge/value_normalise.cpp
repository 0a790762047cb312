#include "bridge/value_normalise.h"

#include <cstring>
#include <string_view>

#include "paramlist/counted_string.h"

namespace kiv {
namespace {

const TVarData& AsVarData(const kivVARIANT& v) { return *reinterpret_cast<const TVarData*>(&v); }

std::u16string_view WideText(const kivWCHAR* text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text));
}

}  // namespace

Variant NormaliseIncoming(const kivVARIANT* value, TextForm form) {
  if (!value) return Variant();
  if (value->vt == KIV_VT_ANSI_STRING && value->pszVal) {
    if (form == TextForm::kAnsi) return Variant::Ansi(value->pszVal);
    return Variant::Wide(WideText(value->pwszVal));
  }
  if (value->vt == KIV_VT_WIDE_POINTER && value->pwszVal)
    return Variant::Wide(WideText(value->pwszVal));
  return Variant::Copy(AsVarData(*value));
}

void StoreOutgoing(const TVarData& value, kivVARIANT* out) {
  if (!out) return;
  Variant copy = value.VType == varString ? Variant::Wide(AnsiToWide(CountedStrView(value.VString)))
                                          : Variant::Copy(value);
  const TVarData owned = copy.Detach();
  std::memcpy(static_cast<void*>(out), &owned, sizeof owned);
}

void ClearVariant(kivVARIANT* value) noexcept {
  if (value) VarClear(*reinterpret_cast<TVarData*>(value));
}

}  // namespace kiv
