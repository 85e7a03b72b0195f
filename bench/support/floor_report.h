// Prints, at the end of a benchmark run, each measurement next to the floor
// it is held against, both from this same run (medians when repeated), with
// the ratio or difference and the target: the numbers only mean something
// side by side on one machine in one state.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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
    bool met = false;
    switch (t.compare) {
      case Compare::kRatio:
        met = m / f <= t.limit;
        std::printf("  %-34s %4s %10.2f us / %-30s %10.2f us = %6.2fx  (target <= %.2fx) %s\n",
                    t.measured, clock, m * us, t.floor, f * us, m / f, t.limit,
                    met ? "met" : "MISSED");
        break;
      case Compare::kExcess:
        met = (m - f) * us <= t.limit;
        std::printf("  %-34s %4s %10.2f us - %-30s %10.2f us = %8.2f us  (target <= %.0f us) %s\n",
                    t.measured, clock, m * us, t.floor, f * us, (m - f) * us, t.limit,
                    met ? "met" : "MISSED");
        break;
      case Compare::kAbsolute:
        met = m * us <= t.limit;
        std::printf("  %-34s %4s %10.2f us  (target <= %.0f us) %s\n", t.measured, clock, m * us,
                    t.limit, met ? "met" : "MISSED");
        break;
      case Compare::kRateRatio:
        met = f / m >= t.limit;
        std::printf("  %-34s %4s rate %6.2fx of %-30s (target >= %.2fx) %s\n", t.measured, clock,
                    f / m, t.floor, t.limit, met ? "met" : "MISSED");
        break;
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
