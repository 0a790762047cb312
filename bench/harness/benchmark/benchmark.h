// A small benchmark harness for the 32-bit Windows build, offering the subset of the Google
// Benchmark API that the benchmarks in bench/ use, so that each benchmark is written once.
// Timing uses QueryPerformanceCounter; each case is calibrated to a minimum time and its result
// is the median of several repetitions. Output is Google Benchmark's JSON shape (see harness.h).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>

namespace benchmark {

enum TimeUnit { kNanosecond, kMicrosecond, kMillisecond, kSecond };
using IterationCount = int64_t;

class State {
 public:
  explicit State(IterationCount max_iterations) : max_iterations_(max_iterations) {}

  // The range-for loop `for (auto _ : state)`: the timer runs from begin() to the loop's end.
  // Marked unused so that the loop variable draws no warning.
  struct __attribute__((unused)) Value {};
  class Iterator {
   public:
    explicit Iterator(State* state) : state_(state), left_(state ? state->max_iterations_ : 0) {}
    Value operator*() const { return {}; }
    Iterator& operator++() {
      --left_;
      return *this;
    }
    bool operator!=(const Iterator&) const {
      if (left_ != 0) return true;
      state_->StopTiming();
      return false;
    }

   private:
    State* state_;
    IterationCount left_;
  };
  Iterator begin() {
    StartTiming();
    return Iterator(this);
  }
  Iterator end() { return Iterator(nullptr); }

  IterationCount iterations() const { return max_iterations_; }
  void PauseTiming();
  void ResumeTiming();
  void SkipWithError(const char* message) { error_ = message ? message : "error"; }
  void SetBytesProcessed(int64_t bytes) { bytes_processed_ = bytes; }
  void SetItemsProcessed(int64_t items) { items_processed_ = items; }

  // Named values of the last run, reported as they are (Google Benchmark's user counters).
  std::map<std::string, double> counters;

  // Read by the runner after the case returns.
  bool Skipped() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }
  int64_t Elapsed() const { return elapsed_; }
  int64_t BytesProcessed() const { return bytes_processed_; }
  int64_t ItemsProcessed() const { return items_processed_; }

 private:
  void StartTiming();
  void StopTiming();

  IterationCount max_iterations_;
  bool running_ = false;
  int64_t started_ = 0;  // counter value when the timer last started
  int64_t elapsed_ = 0;  // counter ticks accumulated while it ran
  int64_t bytes_processed_ = 0;
  int64_t items_processed_ = 0;
  std::string error_;
};

namespace internal {

using Function = void (*)(State&);

class Benchmark {
 public:
  Benchmark(const char* name, Function fn) : name_(name), fn_(fn) {}
  Benchmark* Name(const std::string& name) {
    name_ = name;
    return this;
  }
  Benchmark* Unit(TimeUnit unit) {
    unit_ = unit;
    return this;
  }

  const std::string& name() const { return name_; }
  Function function() const { return fn_; }
  TimeUnit unit() const { return unit_; }

 private:
  std::string name_;
  Function fn_;
  TimeUnit unit_ = kNanosecond;
};

Benchmark* Register(const char* name, Function fn);

}  // namespace internal

// Keeps the compiler from discarding a value or the computation that produced it. A value that
// fits a register may stay in one; anything larger is named in memory, since a register-or-memory
// operand lets the compiler copy a large object (a 16 KiB buffer, say) on every call.
template <class T>
inline constexpr bool kFitsRegister = std::is_trivially_copyable_v<T> && sizeof(T) <= sizeof(void*);

template <class T>
inline __attribute__((always_inline)) void DoNotOptimize(const T& value) {
  if constexpr (kFitsRegister<T>)
    asm volatile("" : : "r,m"(value) : "memory");
  else
    asm volatile("" : : "m"(value) : "memory");
}
template <class T>
inline __attribute__((always_inline)) void DoNotOptimize(T& value) {
  if constexpr (kFitsRegister<T>)
    asm volatile("" : "+m,r"(value) : : "memory");
  else
    asm volatile("" : "+m"(value) : : "memory");
}
// Makes every pending memory write happen before this point.
inline __attribute__((always_inline)) void ClobberMemory() { asm volatile("" : : : "memory"); }

}  // namespace benchmark

#define KIV_BENCHMARK_CONCAT2(a, b) a##b
#define KIV_BENCHMARK_CONCAT(a, b) KIV_BENCHMARK_CONCAT2(a, b)
#define BENCHMARK(fn)                                                                    \
  [[maybe_unused]] static ::benchmark::internal::Benchmark* KIV_BENCHMARK_CONCAT(        \
      kiv_benchmark_, __LINE__) = ::benchmark::internal::Register(#fn, fn)
