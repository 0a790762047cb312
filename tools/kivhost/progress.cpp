#include "progress.h"

#include <cstdio>

namespace kivhost {

std::string ByteSize(uint64_t bytes) {
  char text[32];
  if (bytes < 1024) std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  else if (bytes < 1024 * 1024) std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
  else std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
  return text;
}

std::string ProgressLine(const ProgressFigures& f) {
  std::string line = "fed " + ByteSize(f.Bytes);
  if (f.Total > 0) {
    line += " of " + ByteSize(f.Total) + " (" + std::to_string(f.Bytes * 100 / f.Total) + "%)";
  }
  line += ", " + std::to_string(f.Packets) + " packets";
  if (f.ElapsedMs > 0) line += ", " + ByteSize(f.Bytes * 1000 / f.ElapsedMs) + "/s";
  return line;
}

bool ProgressThrottle::Due(uint64_t now_ms) {
  if (started_ && now_ms - last_ms_ < interval_ms_) return false;
  started_ = true;
  last_ms_ = now_ms;
  return true;
}

}  // namespace kivhost
