// kivhost's expectation reader on arbitrary files. Checks that a failure clears the packets and
// names a line of the file, that packets read back unchanged from the JSON kivhost writes for
// them (as strings and as a "packets" array), and that a comparison's reports stay one JSON
// line, which reads back as a valid expected file without packets, and text lines under the
// "expect:" header.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expect.h"
#include "fuzz_input.h"
#include "json_format.h"

using kiv::fuzz::Check;
using kiv::fuzz::HasRawControl;

namespace {

// The packets of `text`, which must be a valid expected file.
std::vector<std::string> ReadValid(std::string_view text) {
  std::vector<std::string> packets;
  Check(!kivhost::ReadExpectedPackets(text, packets));
  return packets;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> packets{"stale"};
  const std::optional<std::string> error = kivhost::ReadExpectedPackets(text, packets);
  if (error) {
    Check(packets.empty());
    Check(error->rfind("line ", 0) == 0);
    const int line = std::atoi(error->c_str() + 5);
    int lines = 1;
    for (char c : text) lines += c == '\n';
    Check(line >= 1 && line <= lines);
  }

  // What kivhost writes for the packets reads back as they are.
  std::string strings, array = "{\"line\":1,\"packets\":[";
  for (size_t i = 0; i < packets.size(); ++i) {
    const std::string json = kivhost::JsonString(packets[i]);
    Check(!HasRawControl(json));
    strings += json + "\n";
    array += (i ? "," : "") + json;
  }
  array += "],\"values\":{\"a\":[1,-2.5e3,true,null,{}]}}";
  Check(ReadValid(strings) == packets);
  Check(ReadValid(array) == packets);

  // Compared with itself shifted by one packet: the reports keep their shape.
  std::vector<std::string> shifted = packets;
  if (!shifted.empty()) shifted.erase(shifted.begin());
  const kivhost::PacketComparison same = kivhost::ComparePackets(packets, packets);
  Check(same.Match() && same.ExpectedCount == packets.size() && same.First.empty());
  const kivhost::PacketComparison c = kivhost::ComparePackets(packets, shifted, 3);
  Check(c.Differences <= packets.size() && c.First.size() == std::min<size_t>(c.Differences, 3));
  Check(c.Match() == packets.empty());
  const std::string json = kivhost::FormatComparisonJson(c, text.substr(0, 16));
  Check(!json.empty() && json.back() == '\n' && !HasRawControl(json.substr(0, json.size() - 1)));
  Check(ReadValid(json).empty());
  const std::string report = kivhost::FormatComparisonText(c, "expected.jsonl");
  Check(report.rfind("expect: ", 0) == 0 && report.back() == '\n');
  for (size_t at = report.find('\n'); at + 1 < report.size(); at = report.find('\n', at + 1))
    Check(report.compare(at + 1, 2, "  ") == 0);
  return 0;
}
