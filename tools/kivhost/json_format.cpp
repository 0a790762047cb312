#include "json_format.h"

#include <cstdio>

namespace kivhost {
namespace {

// The length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t n;
  uint32_t code;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) n = 2, code = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) n = 3, code = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) n = 4, code = lead & 0x07;
  else return 0;
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    code = (code << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and values above U+10FFFF are not valid.
  if ((n == 3 && code < 0x800) || (n == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
      (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return n;
}

void AppendEscaped(std::string& out, unsigned code) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\u%04x", code);
  out += hex;
}

// An object's keys must be unique: a name met again gets "#2", "#3", ... appended.
std::string UniqueKey(const std::vector<NamedValue>& values, size_t index) {
  size_t seen = 1;
  for (size_t i = 0; i < index; ++i) seen += values[i].Name == values[index].Name;
  return seen == 1 ? values[index].Name : values[index].Name + "#" + std::to_string(seen);
}

// Whether `text` is a number as JSON writes it (no "inf", "nan", hex or leading "+").
bool IsJsonNumber(std::string_view text) {
  size_t i = 0;
  const auto digits = [&] {
    const size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i > from;
  };
  if (i < text.size() && text[i] == '-') ++i;
  if (i < text.size() && text[i] == '0') ++i;
  else if (!digits()) return false;
  if (i < text.size() && text[i] == '.' && (++i, !digits())) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == text.size();
}

// One object per value, {"name", "value", "type"}; as_object: {"<name>": value, ...}.
std::string NamedValues(const std::vector<NamedValue>& values, bool as_object) {
  std::string out = as_object ? "{" : "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) out += ',';
    if (as_object) out += JsonString(UniqueKey(values, i)) + ":" + JsonValue(values[i]);
    else
      out += "{\"name\":" + JsonString(values[i].Name) + ",\"value\":" + JsonValue(values[i]) +
             ",\"type\":" + JsonString(ValueTypeName(values[i].Type)) + "}";
  }
  return out + (as_object ? "}" : "]");
}

// The types of an object's values, under the same keys.
std::string ValueTypes(const std::vector<NamedValue>& values) {
  std::string out = "{";
  for (size_t i = 0; i < values.size(); ++i)
    out += (i ? "," : "") + JsonString(UniqueKey(values, i)) + ":" + JsonString(ValueTypeName(values[i].Type));
  return out + "}";
}

template <class T, class F>
std::string Array(const std::vector<T>& items, F each) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + each(items[i]);
  return out + "]";
}

}  // namespace

std::string JsonLogEntry(const LogEntry& e) {
  return "{\"level\":" + std::to_string(e.Level) + ",\"flag\":" + (e.Flag ? "true" : "false") +
         ",\"text\":" + JsonString(e.Text) + "}";
}

std::string JsonValue(const NamedValue& v) {
  switch (v.Type) {
    case ValueType::Int: case ValueType::Count: case ValueType::Real: case ValueType::Date:
      // A number JSON cannot hold (infinity, not a number) stays a string.
      return IsJsonNumber(v.Value) ? v.Value : JsonString(v.Value);
    case ValueType::Bool: return v.Value == "true" ? "true" : "false";
    case ValueType::Null: case ValueType::Empty: return "null";
    case ValueType::Text: case ValueType::Other: break;
  }
  return JsonString(v.Value);
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (byte < 0x20 || byte == 0x7F) AppendEscaped(out, byte);
    else if (byte >= 0x80) {
      const size_t n = Utf8Length(text, i);
      if (n == 0) {
        AppendEscaped(out, byte);
        ++i;
        continue;
      }
      out.append(text.substr(i, n));
      i += n;
      continue;
    } else {
      out += c;
    }
    ++i;
  }
  return out + "\"";
}

std::string FormatJson(const RequestResult& r) {
  std::string out = "{\"line\":" + std::to_string(r.Line) + ",\"request\":" + JsonString(r.Request) +
                    ",\"status\":" + JsonString(RequestStatusName(r.Status)) + ",\"code\":" + std::to_string(r.Code);
  if (!r.Error.empty()) out += ",\"error\":" + JsonString(r.Error);
  out += ",\"values\":" + NamedValues(r.Values, true) + ",\"types\":" + ValueTypes(r.Values);
  out += ",\"packets\":" + Array(r.Packets, [](const std::string& p) { return JsonString(p); });
  out += ",\"items\":" + NamedValues(r.Items, false);
  out += ",\"log\":" + Array(r.Log, [](const std::string& line) { return JsonLogEntry(ParseLogEntry(line)); });
  out += ",\"messages\":" + Array(r.Messages, [](const MessageRecord& m) {
    return "{\"message\":" + std::to_string(m.Message) + ",\"wparam\":" + std::to_string(m.WParam) +
           ",\"lparam\":" + std::to_string(m.LParam) + "}";
  });
  out += ",\"exports\":" + Array(r.Exports, [](const ExportRecord& e) {
    std::string args = "[";
    for (size_t i = 0; i < e.Args.size(); ++i) args += (i ? "," : "") + std::to_string(e.Args[i]);
    return "{\"name\":" + JsonString(e.Name) + ",\"args\":" + args + "],\"data\":" + JsonString(e.Data) +
           ",\"items\":" + NamedValues(e.Items, false) + "}";
  });
  return out + "}";
}

}  // namespace kivhost
