// The runner of the Windows benchmark harness, exposed for its main() and its tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"

namespace benchmark::harness {

// Flags use Google Benchmark's names: --benchmark_format=json|console, --benchmark_min_time=<s>[s]
// (per repetition), --benchmark_repetitions=<n>, --benchmark_filter=<regex>.
struct Options {
  bool json = false;
  double min_time = 0.5;
  int repetitions = 5;
  std::string filter = ".";
};

struct Result {
  std::string name;
  std::string error;                 // set when the case skipped itself
  IterationCount iterations = 0;     // per repetition
  double seconds_per_iteration = 0;  // median over the repetitions
  double bytes_per_second = 0;
  double items_per_second = 0;
  std::map<std::string, double> counters;  // the user counters of the calibrated run
  TimeUnit unit = kNanosecond;
};

// False (with a message on stderr) for an unknown flag or a bad value.
bool ParseOptions(int argc, const char* const* argv, Options* options);

// Runs a case with an iteration count grown until one run lasts the minimum time; then repeats
// it with that count and reports the median time per iteration.
Result Measure(const internal::Benchmark& b, const Options& options);

double Median(std::vector<double> values);

std::string JsonString(const std::string& s);

// Google Benchmark's JSON shape: a "context" object and a "benchmarks" array whose entries carry
// name, iterations, real_time and time_unit (or error_occurred and error_message).
std::string FormatJson(const std::vector<Result>& results, const std::string& executable,
                       const Options& options);

// The whole program: parses argv, runs the registered cases the filter selects, prints them.
int Main(int argc, char** argv);

}  // namespace benchmark::harness
