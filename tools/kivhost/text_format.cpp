#include "text_format.h"

#include <cstdio>

namespace kivhost {

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (byte < 0x20 || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string DisplayValue(const NamedValue& v) {
  switch (v.Type) {
    case ValueType::Text: case ValueType::Count: case ValueType::Other: return EscapeText(v.Value);
    case ValueType::Null: return "(null)";
    case ValueType::Empty: return "(empty)";
    default: return EscapeText(v.Value) + " (" + ValueTypeName(v.Type) + ")";
  }
}

namespace {

// An item of a list passed to a host export, in the script's own value syntax: NAME="text",
// NAME:int=5, NAME:null.
std::string ExportItem(const NamedValue& v) {
  const std::string name = EscapeText(v.Name);
  switch (v.Type) {
    case ValueType::Text: return name + "=\"" + EscapeText(v.Value) + "\"";
    case ValueType::Null: case ValueType::Empty: return name + ":" + ValueTypeName(v.Type);
    case ValueType::Other: return name + "=" + EscapeText(v.Value);
    default: return name + ":" + ValueTypeName(v.Type) + "=" + EscapeText(v.Value);
  }
}

bool SameMessage(const MessageRecord& a, const MessageRecord& b) {
  return a.Message == b.Message && a.WParam == b.WParam && a.LParam == b.LParam;
}

}  // namespace

std::string FormatText(const RequestResult& r) {
  std::string out = "[" + std::to_string(r.Line) + "] " + EscapeText(r.Request) + " -> ";
  if (r.Status == RequestStatus::Returned) out += std::to_string(r.Code);
  else out += RequestStatusName(r.Status);
  if (!r.Error.empty()) out += " (" + EscapeText(r.Error) + ")";
  out += '\n';
  for (const NamedValue& v : r.Values) out += "  " + EscapeText(v.Name) + ": " + DisplayValue(v) + '\n';
  for (const std::string& p : r.Packets) out += "  packet: " + EscapeText(p) + '\n';
  for (const NamedValue& v : r.Items) out += "  item: " + EscapeText(v.Name) + " = " + DisplayValue(v) + '\n';
  for (const std::string& line : r.Log) {
    const LogEntry e = ParseLogEntry(line);
    out += "  log[" + std::to_string(e.Level) + (e.Flag ? ",flag" : "") + "]: " + EscapeText(e.Text) + '\n';
  }
  // A run of equal log notifications (one per data call of a long feed) folds into one line.
  for (size_t i = 0; i < r.Messages.size();) {
    const MessageRecord& m = r.Messages[i];
    size_t repeats = 1;
    if (m.Message == kLogNotifyMessage)
      while (i + repeats < r.Messages.size() && SameMessage(m, r.Messages[i + repeats])) ++repeats;
    out += "  message: " + std::to_string(m.Message) + " wparam=" + std::to_string(m.WParam) +
           " lparam=" + std::to_string(m.LParam) + (repeats > 1 ? " x" + std::to_string(repeats) : "") + '\n';
    i += repeats;
  }
  for (const ExportRecord& e : r.Exports) {
    out += "  export: " + e.Name + "(";
    for (size_t i = 0; i < e.Args.size(); ++i) out += (i ? ", " : "") + std::to_string(e.Args[i]);
    out += ")";
    if (!e.Data.empty()) out += " data=\"" + EscapeText(e.Data) + "\"";
    for (const NamedValue& v : e.Items) out += " " + ExportItem(v);
    out += '\n';
  }
  return out;
}

}  // namespace kivhost
