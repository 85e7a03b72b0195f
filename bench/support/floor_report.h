// Prints, at the end of a benchmark run, each measurement next to the floor
// it is held against, both from this same run (medians when repeated), with
// the ratio or difference and the target: the numbers only mean something
// side by side on one machine in one state.
//
// With Q7M_BENCH_TARGETS set to a file name, each target is also appended to
// that file as one JSON object per line (for scripts/perf-report.sh).
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace q7mbench {

enum class Clock { kReal, kCpu };

enum class Compare {
  kRatio,      // measured / floor <= limit
  kExcess,     // measured - floor <= limit (microseconds)
  kAbsolute,   // measured <= limit (microseconds); no floor
  kRateRatio,  // floor time / measured time >= limit (same work per iteration)
  // Shown next to the floor, no target (limit unused).
  kRatioShown,
  kRateRatioShown,
};

struct Target {
  const char* measured;
  const char* floor;  // null for kAbsolute
  Clock clock;
  Compare compare;
  double limit;
};

class FloorReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, as the default reporter does.
  explicit FloorReporter(std::vector<Target> targets)
      : benchmark::ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None),
        targets_(std::move(targets)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
      const double real = run.GetAdjustedRealTime() / unit;
      const double cpu = run.GetAdjustedCPUTime() / unit;
      Samples& s = samples_[run.run_name.str()];
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") {
          s.hasMedian = true;
          s.medianReal = real;
          s.medianCpu = cpu;
        }
      } else {
        s.real.push_back(real);
        s.cpu.push_back(cpu);
      }
    }
  }

  void Finalize() override {
    benchmark::ConsoleReporter::Finalize();
    std::printf("\nTargets (this run, medians when repeated):\n");
    for (const Target& t : targets_) Print(t);
  }

 private:
  struct Samples {
    std::vector<double> real, cpu;
    bool hasMedian = false;
    double medianReal = 0, medianCpu = 0;
  };

  static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
  }

  // Seconds, or a negative value when the benchmark did not run.
  double Value(const char* name, Clock clock) const {
    auto it = samples_.find(name);
    if (it == samples_.end()) return -1;
    const Samples& s = it->second;
    if (s.hasMedian) return clock == Clock::kReal ? s.medianReal : s.medianCpu;
    return Median(clock == Clock::kReal ? s.real : s.cpu);
  }

  void Print(const Target& t) const {
    const char* clock = t.clock == Clock::kReal ? "wall" : "cpu";
    const double m = Value(t.measured, t.clock);
    const double f = t.floor ? Value(t.floor, t.clock) : 0;
    if (m < 0 || f < 0) {
      std::printf("  %s: not run\n", t.measured);
      return;
    }
    const double us = 1e6;
    const char* compare = "";
    double result = 0;  // the ratio, the difference (us) or the value (us)
    bool met = false, hasTarget = true;
    switch (t.compare) {
      case Compare::kRatio:
      case Compare::kRatioShown:
        compare = "ratio";
        result = m / f;
        hasTarget = t.compare == Compare::kRatio;
        met = result <= t.limit;
        std::printf("  %-34s %4s %10.2f us / %-30s %10.2f us = %6.2fx", t.measured, clock, m * us,
                    t.floor, f * us, result);
        if (hasTarget) std::printf("  (target <= %.2fx)", t.limit);
        break;
      case Compare::kExcess:
        compare = "excess";
        result = (m - f) * us;
        met = result <= t.limit;
        std::printf("  %-34s %4s %10.2f us - %-30s %10.2f us = %8.2f us  (target <= %.0f us)",
                    t.measured, clock, m * us, t.floor, f * us, result, t.limit);
        break;
      case Compare::kAbsolute:
        compare = "absolute";
        result = m * us;
        met = result <= t.limit;
        std::printf("  %-34s %4s %10.2f us  (target <= %.0f us)", t.measured, clock, result,
                    t.limit);
        break;
      case Compare::kRateRatio:
      case Compare::kRateRatioShown:
        compare = "rate";
        result = f / m;
        hasTarget = t.compare == Compare::kRateRatio;
        met = result >= t.limit;
        std::printf("  %-34s %4s rate %6.2fx of %-30s", t.measured, clock, result, t.floor);
        if (hasTarget) std::printf(" (target >= %.2fx)", t.limit);
        break;
    }
    std::printf(hasTarget ? (met ? " met\n" : " MISSED\n") : "  (shown)\n");
    if (const char* path = std::getenv("Q7M_BENCH_TARGETS")) {
      if (FILE* out = std::fopen(path, "a")) {
        std::fprintf(out,
                     "{\"measured\": \"%s\", \"floor\": \"%s\", \"clock\": \"%s\", "
                     "\"compare\": \"%s\", \"value_us\": %.6g, \"floor_us\": %.6g, "
                     "\"result\": %.6g, \"limit\": %s, \"met\": %s}\n",
                     t.measured, t.floor ? t.floor : "", clock, compare, m * us, f * us, result,
                     hasTarget ? std::to_string(t.limit).c_str() : "null",
                     hasTarget ? (met ? "true" : "false") : "null");
        std::fclose(out);
      }
    }
  }

  std::vector<Target> targets_;
  std::map<std::string, Samples> samples_;
};

// RunSpecifiedBenchmarks with the targets printed at the end.
inline void RunWithFloors(std::vector<Target> targets) {
  FloorReporter reporter(std::move(targets));
  benchmark::RunSpecifiedBenchmarks(&reporter);
}

}  // namespace q7mbench
