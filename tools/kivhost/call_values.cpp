#include "call_values.h"

#include <cstdio>

#include "platform/code_page.h"

namespace kivhost {

HostValue ToHostValue(const CallValue& value) {
  switch (value.Kind) {
    case CallValue::Type::Int: return HostValue::Int(static_cast<int32_t>(value.Int));
    case CallValue::Type::Real: return HostValue::Real(value.Real);
    case CallValue::Type::Null: return HostValue::Null();
    case CallValue::Type::Text: break;
  }
  return HostValue::Wide(kiv::CodePageToWide(kiv::kCodePageUtf8, value.Text));
}

void AddValues(HostParamsList& list, const std::vector<CallValue>& values) {
  for (const CallValue& value : values) list.Add(value.Name, ToHostValue(value));
}

std::string ValueText(const HostValue& value) {
  switch (value.Type) {
    case 0: return "";
    case 1: return "null";
    case 8: return kiv::WideToCodePage(kiv::kCodePageUtf8, value.Text);
    case 11: return value.Integer != 0 ? "true" : "false";
    case 2: case 3: case 16: case 17: case 18: case 19: case 20: return std::to_string(value.Integer);
    case 4: case 5: case 7: {
      char number[40];
      std::snprintf(number, sizeof number, "%.15g", value.Number);
      return number;
    }
    default: return "<type " + std::to_string(value.Type) + ">";
  }
}

std::vector<NamedValue> NamedItems(const std::vector<HostItem>& items) {
  std::vector<NamedValue> named;
  named.reserve(items.size());
  for (const HostItem& item : items) named.push_back({item.Name, ValueText(item.Value)});
  return named;
}

}  // namespace kivhost
