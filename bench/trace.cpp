// Trace records per second: one thread and four processes writing one ring
// with FILEFLUSH OFF, next to a plain loop of pwrite calls of the same
// record size in the same run; and one thread with FILEFLUSH ON.
//
//   build/bin/bench_trace                    (Q7M_BENCH_DIR: where the files go)
//
// Compare "records/s" of the pairs: TraceOutput/FlushOff vs
// PlainPwrite/FlushOff (one thread, CPU time), FourProcesses/Trace vs
// FourProcesses/PlainPwrite (wall-clock time), and the FlushOn pair (a
// pwrite and fdatasync per record, wall-clock time).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "q7m/platform_sys.h"
#include "q7m/scribel.h"
#include "support/floor_report.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kTextLength = 86;                // the default record length
constexpr uint32_t kRecordSize = kTextLength + 42;  // bytes per record
constexpr uint32_t kRingRecords = 10000;
constexpr int kProcesses = 4;
constexpr int kRecordsPerProcess = 20000;
const char kLine[] = "SEQUOR:Execute P1=0x0000002A P2=0x00000010 Q1=0x00000000";

std::string gSelf;
std::string gDir;

// A fresh ring with its INI file; returns the INI path.
std::string MakeRing(const std::string& name, bool flush) {
  std::string trace = gDir + "/" + name + ".log";
  fs::remove(trace);
  std::string ini = gDir + "/" + name + ".INI";
  std::ofstream(ini) << "[SCRIBEL]\nFILEPATH=" << gDir << "\nFILENAME=" << name
                     << ".log\nRECORDLENGTH=" << kTextLength << "\nMAXRECORD=" << kRingRecords
                     << "\nFILEFLUSH=" << (flush ? "ON" : "OFF") << "\n";
  return ini;
}

SCRIBEL_HANDLE OpenRing(const std::string& ini) {
  SCRIBEL_HANDLE h = nullptr;
  if (SCRIBEL_Initialize(&h, ini.c_str(), "BENCH") != 1) return nullptr;
  return h;
}

int PlainWriter(const std::string& path, int count) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  char record[kRecordSize];
  std::memset(record, ' ', sizeof record);
  for (int i = 0; i < count; ++i) {
    off_t slot = static_cast<off_t>(i % kRingRecords) * kRecordSize;
    if (pwrite(fd, record, sizeof record, slot) != static_cast<ssize_t>(sizeof record)) return 2;
  }
  close(fd);
  return 0;
}

int TraceWriter(const std::string& ini, int count) {
  SCRIBEL_HANDLE h = OpenRing(ini);
  if (h == nullptr) return 1;
  for (int i = 0; i < count; ++i) SCRIBEL_Output(h, kLine, sizeof kLine - 1);
  return 0;
}

// Runs `kProcesses` copies of this program in writer mode at once.
bool RunProcesses(const std::string& mode, const std::string& target) {
  std::vector<pid_t> pids;
  std::string count = std::to_string(kRecordsPerProcess);
  for (int p = 0; p < kProcesses; ++p) {
    std::vector<char*> argv = {gSelf.data(), const_cast<char*>(mode.c_str()),
                               const_cast<char*>(target.c_str()), count.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, gSelf.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
    pids.push_back(pid);
  }
  bool ok = true;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return ok;
}

void PlainPwrite(benchmark::State& state, bool flush) {
  std::string path = gDir + (flush ? "/plainflush.log" : "/plain.log");
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  char record[kRecordSize];
  std::memset(record, ' ', sizeof record);
  uint32_t slot = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        pwrite(fd, record, sizeof record, static_cast<off_t>(slot) * kRecordSize));
    if (flush) fdatasync(fd);
    slot = (slot + 1) % kRingRecords;
  }
  close(fd);
  state.counters["records/s"] = benchmark::Counter(state.iterations(), benchmark::Counter::kIsRate);
}

void TraceOutput(benchmark::State& state, bool flush) {
  SCRIBEL_HANDLE h = OpenRing(MakeRing(flush ? "flush" : "single", flush));
  if (h == nullptr) {
    state.SkipWithError("no trace handle");
    return;
  }
  for (auto _ : state) SCRIBEL_Output(h, kLine, sizeof kLine - 1);
  state.counters["records/s"] = benchmark::Counter(state.iterations(), benchmark::Counter::kIsRate);
}

void TraceOutputf(benchmark::State& state) {
  SCRIBEL_HANDLE h = OpenRing(MakeRing("formatted", false));
  if (h == nullptr) {
    state.SkipWithError("no trace handle");
    return;
  }
  for (auto _ : state)
    SCRIBEL_Outputf(h, "SEQUOR:Execute P1=0x%08lX P2=0x%08lX Q1=0x%08lX", 42ul, 16ul, 0ul);
  state.counters["records/s"] = benchmark::Counter(state.iterations(), benchmark::Counter::kIsRate);
}

void FourProcesses(benchmark::State& state, bool plain) {
  for (auto _ : state) {
    std::string target = plain ? gDir + "/plain4.log" : MakeRing("four", false);
    if (!RunProcesses(plain ? "--plain-writer" : "--trace-writer", target)) {
      state.SkipWithError("a writer failed");
      return;
    }
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kProcesses * kRecordsPerProcess,
                         benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(PlainPwrite, FlushOff, false);
BENCHMARK_CAPTURE(TraceOutput, FlushOff, false);
BENCHMARK(TraceOutputf);
BENCHMARK_CAPTURE(FourProcesses, PlainPwrite, true)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FourProcesses, Trace, false)->UseRealTime()->Unit(benchmark::kMillisecond);
// Flushing waits for the disk: measured in wall-clock time.
BENCHMARK_CAPTURE(PlainPwrite, FlushOn, true)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(TraceOutput, FlushOn, true)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  gSelf = fs::canonical("/proc/self/exe").string();
  if (argc == 4 && std::strcmp(argv[1], "--trace-writer") == 0) {
    return TraceWriter(argv[2], std::atoi(argv[3]));
  }
  if (argc == 4 && std::strcmp(argv[1], "--plain-writer") == 0) {
    return PlainWriter(argv[2], std::atoi(argv[3]));
  }
  const char* dir = getenv("Q7M_BENCH_DIR");
  gDir =
      dir ? dir
          : (fs::temp_directory_path() / ("q7m-bench-trace-" + std::to_string(getpid()))).string();
  fs::create_directories(gDir);
  // The rings' named objects stay out of the machine's namespace.
  if (getenv("Q7M_OBJECT_DIR") == nullptr) {
    fs::create_directories(gDir + "/objects");
    setenv("Q7M_OBJECT_DIR", (gDir + "/objects").c_str(), 1);
  }
  benchmark::Initialize(&argc, argv);
  using q7mbench::Clock;
  using q7mbench::Compare;
  q7mbench::RunWithFloors({
      {"FourProcesses/Trace/real_time", "FourProcesses/PlainPwrite/real_time", Clock::kReal,
       Compare::kRateRatio, 0.7},
      {"TraceOutput/FlushOff", "PlainPwrite/FlushOff", Clock::kCpu, Compare::kRateRatioShown, 0},
      {"TraceOutputf", "PlainPwrite/FlushOff", Clock::kCpu, Compare::kRateRatioShown, 0},
      {"TraceOutput/FlushOn/real_time", "PlainPwrite/FlushOn/real_time", Clock::kReal,
       Compare::kRateRatioShown, 0},
  });
  benchmark::Shutdown();
  if (dir == nullptr) fs::remove_all(gDir);
  return 0;
}
