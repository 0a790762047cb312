#include "settings/setting_value.h"

#include "paramlist/counted_string.h"
#include "paramlist/variant_change.h"
#include "paramlist/variant_conversion.h"

namespace kiv {

namespace {

[[noreturn]] void ConversionError(const TVarData& value, const char* to) {
  throw EVariantError("Could not convert variant of type (" + std::to_string(value.VType) +
                      ") into type (" + to + ")");
}

// `value` changed to `to` with the platform's type change, or the conversion error.
Variant Changed(const TVarData& value, TVarType to, const char* name) {
  Variant result;
  if (!VarChangeTypeEx(result, value, to)) ConversionError(value, name);
  return result;
}

}  // namespace

bool VarIsText(const TVarData& value) {
  const TVarType type = value.VType & ~varByRef;
  return type == varOleStr || type == varString;
}

std::string VarTextAnsi(const TVarData& value) {
  if (!VarIsText(value)) return {};
  if (value.VType == varString) return std::string(CountedStrView(value.VString));
  return WideToAnsi(VarResolved(value).AsWide());
}

std::int32_t VarToInt32(const TVarData& value) { return Changed(value, varInteger, "Integer").Data().VInteger; }

double VarToDouble(const TVarData& value) { return Changed(value, varDouble, "Double").Data().VDouble; }

std::string VarToText(const TVarData& value) {
  if (value.VType == varEmpty || value.VType == varNull) return {};
  if (VarIsText(value)) return VarTextAnsi(value);
  return WideToAnsi(Changed(value, varOleStr, "String").AsWide());
}

}  // namespace kiv
