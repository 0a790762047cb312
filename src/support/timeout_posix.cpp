#include <time.h>

#include "support/timeout.h"

namespace kiv {
namespace {

uint64_t MonotonicMilliseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace

TickSource PlatformTickSource() {
  TickSource s;
  s.Tick64 = &MonotonicMilliseconds;
  return s;
}

}  // namespace kiv
