// The progress line kivhost writes to standard error while it feeds data: bytes fed (of the total
// when known), packets delivered and the rate. The throttle keeps it to a few updates a second.
// Pure; a ProgressThrottle belongs to one thread.
#pragma once

#include <cstdint>
#include <string>

namespace kivhost {

struct ProgressFigures {
  uint64_t Bytes = 0;
  uint64_t Total = 0;  // 0: unknown
  uint64_t Packets = 0;
  uint64_t ElapsedMs = 0;
};

// "fed 1.5 MiB of 4.0 MiB (37%), 1234 packets, 12.3 MiB/s" (sizes in B, KiB or MiB).
std::string ProgressLine(const ProgressFigures& figures);
// A byte count with a unit: "512 B", "1.5 KiB", "12.0 MiB".
std::string ByteSize(uint64_t bytes);

class ProgressThrottle {
 public:
  explicit ProgressThrottle(uint64_t interval_ms = 250) : interval_ms_(interval_ms) {}
  // True when a line is due at `now_ms`: the first call, then once per interval.
  bool Due(uint64_t now_ms);

 private:
  uint64_t interval_ms_;
  uint64_t last_ms_ = 0;
  bool started_ = false;
};

}  // namespace kivhost
