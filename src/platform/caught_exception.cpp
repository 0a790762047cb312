#include "platform/caught_exception.h"

#include <atomic>
#include <cstdio>
#include <exception>

namespace kiv {

namespace {

// Trivially destructible, so that a late catch during process shutdown still counts.
std::atomic<uint32_t> g_caught{0};

#ifndef NDEBUG
// The rethrown object is the one still being handled by the caller, so its text outlives this.
void WriteCaughtException(const char* where) noexcept {
  const char* message;
  try {
    throw;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "unknown exception";
  }
  std::fprintf(stderr, "Exception caught in %s: %s\n", where, message);
}
#endif

}  // namespace

void NoteCaughtException(const char* where) noexcept {
  g_caught.fetch_add(1, std::memory_order_relaxed);
#ifndef NDEBUG
  if (std::current_exception()) WriteCaughtException(where ? where : "?");
#else
  (void)where;
#endif
}

uint32_t CaughtExceptionCount() noexcept { return g_caught.load(std::memory_order_relaxed); }

}  // namespace kiv
