#include "settings/setting_value.h"

#include <cmath>

#include "paramlist/counted_string.h"
#include "paramlist/variant_conversion.h"
#include "settings/format_settings.h"
#include "settings/ini_text.h"

namespace kiv {

namespace {

[[noreturn]] void ConversionError(const TVarData& value, const char* to) {
  throw EVariantError("Could not convert variant of type (" + std::to_string(value.VType) +
                      ") into type (" + to + ")");
}

// A by-reference value resolved to what it refers to (and 8-bit strings kept as they are).
Variant Resolved(const TVarData& value) {
  if ((value.VType & varByRef) != 0) return VarOleForm(value);
  return Variant::Copy(value);
}

bool ParseNumber(const std::string& text, double& number) {
  const std::string_view trimmed = TrimBlanks(text);
  int integer = 0;
  if (TryStrToInt(trimmed, integer)) {
    number = integer;
    return true;
  }
  return TryStrToFloat(trimmed, number, UserFormatSettings());
}

}  // namespace

bool VarIsText(const TVarData& value) {
  const TVarType type = value.VType & ~varByRef;
  return type == varOleStr || type == varString;
}

std::string VarTextAnsi(const TVarData& value) {
  if (!VarIsText(value)) return {};
  const Variant v = Resolved(value);
  if (v.VType() == varString) return std::string(CountedStrView(v.Data().VString));
  return WideToAnsi(v.AsWide());
}

std::int32_t VarToInt32(const TVarData& value) {
  const Variant v = Resolved(value);
  if (VarIsText(v)) {
    double number = 0;
    if (!ParseNumber(VarTextAnsi(v), number)) ConversionError(value, "Integer");
    const double rounded = std::nearbyint(number);  // half to even in the default rounding mode
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) ConversionError(value, "Integer");
    return static_cast<std::int32_t>(rounded);
  }
  TVarData data = v.Data();
  if (!VarChangeType(data, varInteger)) ConversionError(value, "Integer");
  return data.VInteger;
}

double VarToDouble(const TVarData& value) {
  const Variant v = Resolved(value);
  if (VarIsText(v)) {
    double number = 0;
    if (!ParseNumber(VarTextAnsi(v), number)) ConversionError(value, "Double");
    return number;
  }
  TVarData data = v.Data();
  if (!VarChangeType(data, varDouble)) ConversionError(value, "Double");
  return data.VDouble;
}

std::string VarToText(const TVarData& value) {
  const Variant v = Resolved(value);
  const TVarData& d = v.Data();
  const TFormatSettings& fs = UserFormatSettings();
  switch (d.VType) {
    case varEmpty:
    case varNull:
      return {};
    case varOleStr:
    case varString:
      return VarTextAnsi(d);
    case varSmallint:
      return std::to_string(d.VSmallInt);
    case varInteger:
    case varInt:
      return std::to_string(d.VInteger);
    case varShortInt:
      return std::to_string(d.VShortInt);
    case varByte:
      return std::to_string(d.VByte);
    case varWord:
      return std::to_string(d.VWord);
    case varLongWord:
    case varUInt:
      return std::to_string(d.VLongWord);
    case varInt64:
      return std::to_string(d.VInt64);
    case varUInt64:
      return std::to_string(d.VUInt64);
    case varSingle:
      return FloatToStr(d.VSingle, fs);
    case varDouble:
      return FloatToStr(d.VDouble, fs);
    case varCurrency:
      return FloatToStr(static_cast<double>(d.VCurrency) / 10000.0, fs);
    case varDate:
      return DateTimeToStr(d.VDate, fs);
    case varBoolean:
      return d.VBoolean != 0 ? "True" : "False";
    default:
      ConversionError(value, "String");
  }
}

}  // namespace kiv
