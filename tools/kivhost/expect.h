// `kivhost run <script> --expect <file>`: the packets a run delivered compared with those of an
// expected file, and the report of the first differences. The expected file holds JSON lines:
// objects as `kivhost --json` prints them (the packets of each object's "packets" array, in
// order; objects without one add none, so a whole reference run serves as is) or JSON strings,
// one packet each. As kivhost writes them, \u0080 to \u00ff stand for those bytes. Pure; any
// thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivhost {

// Reads the expected packets of `text` into `out`; on failure the reason, with its line number.
std::optional<std::string> ReadExpectedPackets(std::string_view text, std::vector<std::string>& out);

// One packet where the run and the file differ; a side without the packet has none.
struct PacketDifference {
  size_t Packet = 0;  // 1-based
  std::optional<std::string> Expected;
  std::optional<std::string> Delivered;
};

struct PacketComparison {
  size_t ExpectedCount = 0;
  size_t DeliveredCount = 0;
  size_t Differences = 0;               // packets that differ, counted by position
  std::vector<PacketDifference> First;  // the first of them, up to the limit
  bool Match() const { return Differences == 0; }
};

// Compares position by position; keeps the first `limit` differences.
PacketComparison ComparePackets(const std::vector<std::string>& expected, const std::vector<std::string>& delivered,
                                size_t limit = 5);

// The report: text lines starting "expect:", or one JSON line; `file` names the expected file.
std::string FormatComparisonText(const PacketComparison& comparison, std::string_view file);
std::string FormatComparisonJson(const PacketComparison& comparison, std::string_view file);

}  // namespace kivhost
