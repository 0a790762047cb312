// The Windows benchmark harness: the timed loop, calibration and repetitions, counters, options
// and the JSON that scripts/bench reads.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "harness.h"

namespace benchmark::harness {
namespace {

double Seconds(const State& state) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(state.Elapsed()) / static_cast<double>(f.QuadPart);
}

TEST(BenchHarness, LoopRunsTheIterationCountAndTimesOnlyUnpausedWork) {
  State counted(7);
  int runs = 0;
  for (auto _ : counted) ++runs;
  EXPECT_EQ(runs, 7);
  EXPECT_EQ(counted.iterations(), 7);

  State timed(1);
  for (auto _ : timed) Sleep(50);
  EXPECT_GE(Seconds(timed), 0.04);

  State paused(1);
  for (auto _ : paused) {
    paused.PauseTiming();
    Sleep(50);
    paused.ResumeTiming();
  }
  EXPECT_LT(Seconds(paused), 0.04);
}

std::vector<IterationCount> g_runs;

void SleepTwoMs(State& state) {
  g_runs.push_back(state.iterations());
  for (auto _ : state) Sleep(2);
  state.SetBytesProcessed(state.iterations() * 1000);
}

TEST(BenchHarness, CalibratesToTheMinimumTimeThenRepeatsWithTheSameCount) {
  g_runs.clear();
  Options options;
  options.min_time = 0.03;
  options.repetitions = 3;
  const internal::Benchmark b("Sleep/kiv", SleepTwoMs);
  const Result r = Measure(b, options);
  ASSERT_TRUE(r.error.empty());
  ASSERT_GE(g_runs.size(), 3u);
  // Growing counts while calibrating, then the calibrated count once per further repetition.
  for (size_t i = 1; i + 2 < g_runs.size(); ++i) EXPECT_LT(g_runs[i - 1], g_runs[i]);
  EXPECT_EQ(g_runs[g_runs.size() - 3], r.iterations);
  EXPECT_EQ(g_runs[g_runs.size() - 2], r.iterations);
  EXPECT_EQ(g_runs.back(), r.iterations);
  EXPECT_GE(r.seconds_per_iteration, 0.0015);
  EXPECT_GE(r.seconds_per_iteration * static_cast<double>(r.iterations), 0.02);
  // Bytes of one run over the median run's time.
  EXPECT_NEAR(r.bytes_per_second * r.seconds_per_iteration, 1000.0, 1e-6);
}

void Skips(State& state) {
  state.SkipWithError("no \"input\"");
  for (auto _ : state) {
  }
}

TEST(BenchHarness, SkippedCaseAndTimedCaseInTheJson) {
  Options options;
  options.min_time = 0.001;
  const Result skipped = Measure(internal::Benchmark("Skip/kiv", Skips), options);
  EXPECT_EQ(skipped.error, "no \"input\"");

  Result timed;
  timed.name = "Load/base";
  timed.unit = kMillisecond;
  timed.iterations = 12;
  timed.seconds_per_iteration = 0.0025;
  const std::string json = FormatJson({skipped, timed}, "bench_x.exe", options);
  EXPECT_NE(json.find("\"name\": \"Skip/kiv\",\n      \"run_name\": \"Skip/kiv\",\n      "
                      "\"error_occurred\": true,\n      \"error_message\": \"no \\\"input\\\"\"\n    }"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"name\": \"Load/base\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"iterations\": 12,\n      \"real_time\": 2.5,\n      \"time_unit\": \"ms\""),
            std::string::npos)
      << json;
  // One entry only carries a time.
  EXPECT_EQ(json.find("real_time"), json.rfind("real_time"));
}

TEST(BenchHarness, MedianAndJsonText) {
  EXPECT_EQ(Median({5, 1, 3}), 3);
  EXPECT_EQ(Median({4, 1, 3, 2}), 2.5);
  EXPECT_EQ(Median({}), 0);
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
}

TEST(BenchHarness, OptionsAcceptGoogleBenchmarkFlagsAndRefuseBadValues) {
  Options o;
  const char* good[] = {"x", "--benchmark_format=json", "--benchmark_min_time=0.2s",
                        "--benchmark_repetitions=3", "--benchmark_filter=Fifo"};
  ASSERT_TRUE(ParseOptions(5, good, &o));
  EXPECT_TRUE(o.json);
  EXPECT_DOUBLE_EQ(o.min_time, 0.2);
  EXPECT_EQ(o.repetitions, 3);
  EXPECT_EQ(o.filter, "Fifo");
  const char* plain_time[] = {"x", "--benchmark_min_time=0.05"};
  ASSERT_TRUE(ParseOptions(2, plain_time, &o));
  EXPECT_DOUBLE_EQ(o.min_time, 0.05);

  for (const char* bad : {"--benchmark_min_time=abc", "--benchmark_min_time=0", "--benchmark_min_time=",
                          "--benchmark_repetitions=2.5", "--benchmark_repetitions=0",
                          "--benchmark_format=xml", "--benchmark_minimum=1", "--benchmark_min_time"}) {
    Options fresh;
    const char* argv[] = {"x", bad};
    EXPECT_FALSE(ParseOptions(2, argv, &fresh)) << bad;
  }
}

}  // namespace
}  // namespace benchmark::harness
