// The line parser's core: splits a byte stream into text lines and each line into named fields.
// Pure code without the SDK, so that it is tested and fuzzed without a host. A ParseState belongs
// to one data source; calls for one state must not overlap, calls for different states may.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace line_parser {

// Lines longer than this (without their line end) are dropped.
inline constexpr std::size_t kDefaultMaxLine = 1024;

struct Field {
  enum class Kind { kText, kInteger, kReal };
  std::string name;
  Kind kind = Kind::kText;
  std::string text;  // the value as written, trimmed
  int64_t integer = 0;
  double real = 0;
};

struct Line {
  std::string text;  // the line without CR LF or LF
  std::vector<Field> fields;
};

// What survives between calls for one data source: whether an over-long line is being skipped.
struct ParseState {
  bool discarding = false;
  std::size_t discarded = 0;  // bytes of that line skipped so far
};

struct ParseResult {
  std::vector<Line> lines;
  std::vector<std::size_t> dropped;  // bytes of each over-long line dropped, line end included
  std::size_t consumed = 0;          // bytes to remove from the front of the stream
};

// Parses the whole lines at the front of `data`. LF or CR LF ends a line; empty lines are skipped.
// The bytes of an unfinished line are not consumed (they wait for more data), unless they already
// exceed `max_line`: then the line is skipped up to its end, possibly over several calls, and
// reported in `dropped` once its end arrives.
ParseResult ParseLines(std::string_view data, ParseState& state,
                       std::size_t max_line = kDefaultMaxLine);

// The fields of one line: `key=value` parts separated by ';' or ','. Keys and values are trimmed of
// blanks; parts without '=' or with an empty key are ignored, and so is the key
// "FULL_DATA_PACKET" (any case), which names the packet itself. Values made only of an optional
// sign and digits that fit 64 bits are integers; decimal numbers with a point or exponent are reals.
std::vector<Field> SplitFields(std::string_view line);

}  // namespace line_parser
