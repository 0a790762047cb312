#include "framework/call_params.h"

#include "framework/call_record.h"
#include "paramlist/variant_change.h"
#include "platform/code_page.h"

namespace kiv {
namespace {

// The parameter converted to `type`; false when absent or not convertible.
bool ReadAs(IkivParamsListA* params, std::string_view name, TVarType type, Variant& out) noexcept {
  try {
    Variant value;
    return ReadCallParam(params, name, value) && VarChangeTypeEx(out, value, type);
  } catch (...) {
    return false;
  }
}

}  // namespace

bool ReadCallText(IkivParamsListA* params, std::string_view name, std::string& out) noexcept {
  Variant value;
  if (!ReadAs(params, name, varOleStr, value)) return false;
  try {
    out = WideToAnsi(value.AsWide());
    return true;
  } catch (...) {
    return false;
  }
}

bool ReadCallName(IkivParamsListA* params, std::string_view name, std::string& out) noexcept {
  std::string text;
  if (!ReadCallText(params, name, text) || text.find('\0') != std::string::npos) return false;
  out = std::move(text);
  return true;
}

bool ReadCallBool(IkivParamsListA* params, std::string_view name, bool& out) noexcept {
  Variant value;
  if (!ReadAs(params, name, varBoolean, value)) return false;
  out = value.Data().VBoolean != 0;
  return true;
}

bool ReadCallInt(IkivParamsListA* params, std::string_view name, int32_t& out) noexcept {
  Variant value;
  if (!ReadAs(params, name, varInteger, value)) return false;
  out = value.Data().VInteger;
  return true;
}

}  // namespace kiv
