// The sample line parser's core on arbitrary bytes. Input: one byte for the line limit and the
// chunk size, then the stream. Checks that feeding the stream in chunks (unconsumed bytes kept in
// front, as the FIFO keeps them) gives the same lines and dropped lines as one block, that no
// line exceeds the limit or holds a line break, and that every field has a plain key.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "line_core.h"

using kiv::fuzz::Check;

namespace {

struct Outcome {
  std::vector<std::string> lines;
  std::vector<std::size_t> dropped;
  std::string held;
};

Outcome Feed(std::string_view stream, std::size_t chunk, std::size_t max_line) {
  Outcome out;
  line_parser::ParseState state;
  for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
    out.held += stream.substr(pos, chunk);
    const line_parser::ParseResult r = line_parser::ParseLines(out.held, state, max_line);
    Check(r.consumed <= out.held.size());
    for (const line_parser::Line& line : r.lines) {
      Check(!line.text.empty() && line.text.size() <= max_line);
      Check(line.text.find('\n') == std::string::npos);
      for (const line_parser::Field& f : line_parser::SplitFields(line.text))
        Check(!f.name.empty() && f.name.find_first_of(";,=") == std::string::npos);
      out.lines.push_back(line.text);
    }
    out.dropped.insert(out.dropped.end(), r.dropped.begin(), r.dropped.end());
    out.held.erase(0, r.consumed);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t max_line = data[0] % 32 + 1;
  const std::size_t chunk = data[0] / 32 + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Outcome whole = Feed(stream, stream.size() + 1, max_line);
  const Outcome chunked = Feed(stream, chunk, max_line);
  Check(whole.lines == chunked.lines);
  Check(whole.dropped == chunked.dropped);
  Check(whole.held == chunked.held);
  return 0;
}
