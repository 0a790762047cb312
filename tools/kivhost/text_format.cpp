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

std::string FormatText(const RequestResult& r) {
  std::string out = "[" + std::to_string(r.Line) + "] " + EscapeText(r.Request) + " -> ";
  if (r.Status == RequestStatus::Returned) out += std::to_string(r.Code);
  else out += RequestStatusName(r.Status);
  if (!r.Error.empty()) out += " (" + EscapeText(r.Error) + ")";
  out += '\n';
  for (const NamedValue& v : r.Values) out += "  " + EscapeText(v.Name) + ": " + EscapeText(v.Value) + '\n';
  for (const std::string& p : r.Packets) out += "  packet: " + EscapeText(p) + '\n';
  for (const NamedValue& v : r.Items) out += "  item: " + EscapeText(v.Name) + " = " + EscapeText(v.Value) + '\n';
  for (const std::string& line : r.Log) {
    const LogEntry e = ParseLogEntry(line);
    out += "  log[" + std::to_string(e.Level) + (e.Flag ? ",flag" : "") + "]: " + EscapeText(e.Text) + '\n';
  }
  for (const MessageRecord& m : r.Messages)
    out += "  message: " + std::to_string(m.Message) + " wparam=" + std::to_string(m.WParam) +
           " lparam=" + std::to_string(m.LParam) + '\n';
  for (const ExportRecord& e : r.Exports) {
    out += "  export: " + e.Name + "(";
    for (size_t i = 0; i < e.Args.size(); ++i) out += (i ? ", " : "") + std::to_string(e.Args[i]);
    out += ")";
    if (!e.Data.empty()) out += " data=\"" + EscapeText(e.Data) + "\"";
    for (const NamedValue& v : e.Items) out += " " + EscapeText(v.Name) + "=\"" + EscapeText(v.Value) + "\"";
    out += '\n';
  }
  return out;
}

}  // namespace kivhost
