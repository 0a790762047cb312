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

std::optional<std::vector<CallValue>> CommandValues(const Request& q) {
  auto text = [](const char* name, const std::string& value) { return CallValue{name, CallValue::Type::Text, value}; };
  std::vector<CallValue> values;
  switch (q.Kind) {
    case RequestKind::Load: values = {text("COMMAND", "LOAD")}; break;
    case RequestKind::Unload: values = {text("COMMAND", "UNLOAD")}; break;
    case RequestKind::Command: values = {text("COMMAND", q.Name)}; break;
    case RequestKind::GetParam: return std::vector<CallValue>{text("COMMAND", "GET-MODULE-PARAMETER"), text("PARAM", q.Name)};
    case RequestKind::SetParam:
      return std::vector<CallValue>{text("COMMAND", "SET-MODULE-PARAMETER"), text("PARAM", q.Name), text("VALUE", q.Value)};
    case RequestKind::Event: values = {text("COMMAND", "EVENT"), text("EVENT-TYPE", q.Name)}; break;
    default: return std::nullopt;
  }
  values.insert(values.end(), q.Values.begin(), q.Values.end());
  return values;
}

void AddHostHandles(std::vector<CallValue>& values, int64_t window, int64_t module) {
  auto given = [&](const char* name) {
    for (const CallValue& v : values)
      if (v.Name == name) return true;
    return false;
  };
  if (!given("MSG-PROC-HANDLE")) values.push_back({"MSG-PROC-HANDLE", CallValue::Type::Int, {}, window});
  if (!given("HANDLE")) values.push_back({"HANDLE", CallValue::Type::Int, {}, module});
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

ValueType ValueTypeOf(uint16_t variant_type) noexcept {
  switch (variant_type) {
    case 0: return ValueType::Empty;
    case 1: return ValueType::Null;
    case 8: return ValueType::Text;
    case 11: return ValueType::Bool;
    case 2: case 3: case 16: case 17: case 18: case 19: case 20: return ValueType::Int;
    case 4: case 5: return ValueType::Real;
    case 7: return ValueType::Date;
    default: return ValueType::Other;
  }
}

NamedValue Named(const std::string& name, const HostValue& value) {
  return {name, ValueText(value), ValueTypeOf(value.Type)};
}

std::vector<NamedValue> NamedItems(const std::vector<HostItem>& items) {
  std::vector<NamedValue> named;
  named.reserve(items.size());
  for (const HostItem& item : items) named.push_back(Named(item.Name, item.Value));
  return named;
}

}  // namespace kivhost
