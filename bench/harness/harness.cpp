// Runner of the Windows benchmark harness: registry, timing, calibration, repetitions and output.
#include "harness.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>

namespace benchmark {
namespace {

int64_t Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

double Frequency() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(f.QuadPart);
}

std::vector<std::unique_ptr<internal::Benchmark>>& Registry() {
  static std::vector<std::unique_ptr<internal::Benchmark>> registry;
  return registry;
}

}  // namespace

void State::StartTiming() {
  if (!running_) started_ = Now();
  running_ = true;
}

void State::StopTiming() {
  if (running_) elapsed_ += Now() - started_;
  running_ = false;
}

void State::PauseTiming() { StopTiming(); }
void State::ResumeTiming() { StartTiming(); }

namespace internal {

Benchmark* Register(const char* name, Function fn) {
  Registry().push_back(std::make_unique<Benchmark>(name, fn));
  return Registry().back().get();
}

}  // namespace internal

namespace harness {
namespace {

// Reads "--flag=value"; true if arg is that flag.
bool Flag(const char* arg, const char* flag, std::string* value) {
  const size_t n = std::strlen(flag);
  if (std::strncmp(arg, flag, n) != 0 || arg[n] != '=') return false;
  *value = arg + n + 1;
  return true;
}

// A whole-string number; false for empty text or trailing characters.
bool Number(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size();
}

double UnitScale(TimeUnit unit) {
  switch (unit) {
    case kSecond: return 1;
    case kMillisecond: return 1e3;
    case kMicrosecond: return 1e6;
    default: return 1e9;
  }
}

const char* UnitName(TimeUnit unit) {
  switch (unit) {
    case kSecond: return "s";
    case kMillisecond: return "ms";
    case kMicrosecond: return "us";
    default: return "ns";
  }
}

// The Wine version when running under Wine, empty on Windows.
std::string WineVersion() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  using Fn = const char*(__cdecl*)();
  auto fn = ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                  : nullptr;
  return fn ? fn() : "";
}

std::string Format(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

void PrintConsole(const Result& r) {
  if (!r.error.empty()) {
    std::printf("%-50s ERROR: %s\n", r.name.c_str(), r.error.c_str());
  } else {
    std::printf("%-50s %12.1f %-2s %12lld\n", r.name.c_str(),
                r.seconds_per_iteration * UnitScale(r.unit), UnitName(r.unit),
                static_cast<long long>(r.iterations));
  }
  std::fflush(stdout);
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string v;
    double number = 0;
    bool ok = true;
    if (Flag(argv[i], "--benchmark_format", &v)) {
      ok = v == "json" || v == "console";
      options->json = v == "json";
    } else if (Flag(argv[i], "--benchmark_min_time", &v)) {
      if (!v.empty() && v.back() == 's') v.pop_back();
      ok = Number(v, &number) && number > 0;
      options->min_time = number;
    } else if (Flag(argv[i], "--benchmark_repetitions", &v)) {
      ok = Number(v, &number) && number >= 1 && number <= 1000 && number == static_cast<int>(number);
      options->repetitions = static_cast<int>(number);
    } else if (Flag(argv[i], "--benchmark_filter", &v)) {
      options->filter = v;
    } else {
      std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "bad value: %s\n", argv[i]);
      return false;
    }
  }
  return true;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t m = values.size();
  return m % 2 ? values[m / 2] : (values[m / 2 - 1] + values[m / 2]) / 2;
}

Result Measure(const internal::Benchmark& b, const Options& options) {
  static const double frequency = Frequency();
  Result r;
  r.name = b.name();
  r.unit = b.unit();
  auto run = [&](IterationCount n) {
    State state(n);
    b.function()(state);
    return state;
  };
  constexpr IterationCount kMaxIterations = 1000000000;
  IterationCount n = 1;
  double seconds = 0;
  int64_t bytes = 0, items = 0;
  std::map<std::string, double> counters;
  // Grow the iteration count until one run lasts the minimum time, as Google Benchmark does:
  // aim 40% past it, and grow at most tenfold while a run is too short to predict from.
  for (;;) {
    State state = run(n);
    if (state.Skipped()) {
      r.error = state.Error();
      return r;
    }
    seconds = static_cast<double>(state.Elapsed()) / frequency;
    bytes = state.BytesProcessed();
    items = state.ItemsProcessed();
    counters = state.counters;
    if (seconds >= options.min_time || n >= kMaxIterations) break;
    double multiplier = options.min_time * 1.4 / std::max(seconds, 1e-9);
    if (seconds / options.min_time <= 0.1) multiplier = std::min(multiplier, 10.0);
    const double next = std::max(static_cast<double>(n) * multiplier, static_cast<double>(n) + 1);
    n = static_cast<IterationCount>(std::min(next, static_cast<double>(kMaxIterations)));
  }
  // The calibrated run is the first repetition.
  std::vector<double> per_iteration{seconds / static_cast<double>(n)};
  for (int rep = 1; rep < options.repetitions; ++rep) {
    State state = run(n);
    if (state.Skipped()) {
      r.error = state.Error();
      return r;
    }
    per_iteration.push_back(static_cast<double>(state.Elapsed()) / frequency / static_cast<double>(n));
  }
  r.iterations = n;
  r.counters = counters;
  r.seconds_per_iteration = Median(per_iteration);
  // Counters count one run of n iterations: reported as rates at the median time.
  const double run_seconds = r.seconds_per_iteration * static_cast<double>(n);
  if (run_seconds > 0) {
    r.bytes_per_second = static_cast<double>(bytes) / run_seconds;
    r.items_per_second = static_cast<double>(items) / run_seconds;
  }
  return r;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string FormatJson(const std::vector<Result>& results, const std::string& executable,
                       const Options& options) {
  std::string out = "{\n  \"context\": {\n    \"executable\": " + JsonString(executable) +
                    ",\n    \"harness\": \"QueryPerformanceCounter\",\n    \"wine_version\": " +
                    JsonString(WineVersion()) + ",\n    \"min_time\": " + Format("%g", options.min_time) +
                    ",\n    \"repetitions\": " + std::to_string(options.repetitions) +
                    "\n  },\n  \"benchmarks\": [";
  for (size_t i = 0; i < results.size(); ++i) {
    const Result& r = results[i];
    out += std::string(i ? "," : "") + "\n    {\n      \"name\": " + JsonString(r.name) +
           ",\n      \"run_name\": " + JsonString(r.name);
    if (!r.error.empty()) {
      out += ",\n      \"error_occurred\": true,\n      \"error_message\": " + JsonString(r.error) + "\n    }";
      continue;
    }
    out += ",\n      \"aggregate_name\": \"median\",\n      \"iterations\": " + std::to_string(r.iterations) +
           ",\n      \"real_time\": " + Format("%.6g", r.seconds_per_iteration * UnitScale(r.unit)) +
           ",\n      \"time_unit\": \"" + UnitName(r.unit) + "\"";
    if (r.bytes_per_second > 0) out += ",\n      \"bytes_per_second\": " + Format("%.6g", r.bytes_per_second);
    if (r.items_per_second > 0) out += ",\n      \"items_per_second\": " + Format("%.6g", r.items_per_second);
    for (const auto& [name, value] : r.counters) out += ",\n      " + JsonString(name) + ": " + Format("%.6g", value);
    out += "\n    }";
  }
  return out + "\n  ]\n}\n";
}

int Main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  std::regex filter;
  try {
    filter = std::regex(options.filter);
  } catch (const std::regex_error&) {
    std::fprintf(stderr, "bad filter: %s\n", options.filter.c_str());
    return 2;
  }
  std::vector<Result> results;
  for (const auto& b : Registry()) {
    if (!std::regex_search(b->name(), filter)) continue;
    results.push_back(Measure(*b, options));
    if (!options.json) PrintConsole(results.back());
  }
  if (options.json) std::fputs(FormatJson(results, argv[0], options).c_str(), stdout);
  return 0;
}

}  // namespace harness
}  // namespace benchmark
