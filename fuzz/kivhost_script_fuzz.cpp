// kivhost's script parser and formatters on arbitrary scripts. Checks that line numbers rise and
// stay within the script, that option values stay in their ranges, that every request prints as
// exactly one text line and one JSON line without raw control characters, and that packets split
// from any text join back to it.
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "json_format.h"
#include "packet_text.h"
#include "script.h"
#include "text_format.h"

using kiv::fuzz::Check;
using kiv::fuzz::HasRawControl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  kivhost::ScriptParser parser;
  parser.Define("DIR", "C:\\data");
  const kivhost::ParsedScript parsed = parser.ParseScript(script);
  int lines = 1;
  for (char c : script) lines += c == '\n';
  int last = 0;
  for (const kivhost::Request& q : parsed.Requests) {
    Check(q.Line > last && q.Line <= lines);
    last = q.Line;
    Check(q.Feed.Chunk >= 1);
    Check(q.Stress.Threads >= 1 && q.Stress.Threads <= 64 && q.Stress.Sources >= 1 && q.Stress.Sources <= 1024);

    kivhost::RequestResult result;
    result.Line = q.Line;
    result.Request = q.Text;
    result.Packets = kivhost::SplitPackets(q.Text);
    for (const kivhost::CallValue& v : q.Values) result.Values.push_back({v.Name, v.Text});
    const std::string text = kivhost::FormatText(result);
    // One header line, then only indented lines: nothing in a request breaks a line.
    Check(!text.empty() && text.back() == '\n' && text[0] == '[');
    for (size_t at = text.find('\n'); at + 1 < text.size(); at = text.find('\n', at + 1))
      Check(text.compare(at + 1, 2, "  ") == 0);
    const std::string json = kivhost::FormatJson(result);
    Check(!HasRawControl(json));

    std::string joined;
    for (size_t i = 0; i < result.Packets.size(); ++i)
      joined += (i ? std::string(kivhost::kDataSeparator) : std::string()) + result.Packets[i];
    Check(joined == q.Text);
  }
  if (parsed.Error) Check(parsed.Error->Line > last && parsed.Error->Line <= lines);
  return 0;
}
