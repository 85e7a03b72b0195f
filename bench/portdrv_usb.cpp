// One USB exchange (a command in one output report, the response in one
// input report) against q7m-sim on the virtual HID bus: through
// PDLNK_Send + PDLNK_Receive, and as a raw packet round trip on the same
// bus socket of the same emulator in the same run (the floor: connect once,
// send the report, wait for the answer, read it). Wall time and CPU time of
// this process per exchange, heap allocations per exchange, and at the end
// the ratio of the two (medians when repeated).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include "allocation_counter.h"
#include "q7m/pdlnk.h"
#include "support/floor_report.h"

namespace {

constexpr char kCommand[] = "C10";
constexpr size_t kReportLength = 2068;

// Both benchmarks use one emulator, started on first use in a bus directory
// of this run.
class Sim {
 public:
  static Sim& Instance() {
    static Sim sim;
    return sim;
  }
  ~Sim() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (output_) fclose(output_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  Sim() {
    char dir[] = "/tmp/bench_portdrv_usb_XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
    dir_ = dir;
    const std::string bus = std::string(dir) + "/bus";
    setenv("Q7M_HIDBUS_DIR", bus.c_str(), 1);
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    std::string sim(self);
    sim.erase(sim.rfind('/') + 1);
    sim += "q7m-sim";
    int out[2];
    if (pipe(out) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      execl(sim.c_str(), sim.c_str(), "--no-control", "--usb=r1", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    output_ = fdopen(out[0], "r");
    char line[512];
    while (fgets(line, sizeof line, output_) != nullptr) {
      char path[256];
      if (std::sscanf(line, "reader r1 usb %255s", path) == 1) path_ = path;
      if (std::strncmp(line, "ready", 5) == 0) break;
    }
  }
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  std::string dir_;
  std::string path_;
};

void BM_PdlnkUsbExchange(benchmark::State& state) {
  Sim& sim = Sim::Instance();
  int handle = -1;
  if (sim.path().empty() || PDLNK_Open(&handle, "USB:", 1) != PDLNK_SUCCESS) {
    state.SkipWithError("no reader");
    return;
  }
  char buffer[kReportLength];
  int received = 0;
  // The first exchange binds the trace client; it is left out.
  PDLNK_Send(handle, kCommand, 3, 5000);
  PDLNK_Receive(handle, buffer, sizeof buffer, &received, 5000);
  const long allocationsBefore = q7mbench::AllocationCount();
  long exchanges = 0;
  for (auto _ : state) {
    if (PDLNK_Send(handle, kCommand, 3, 5000) != PDLNK_SUCCESS ||
        PDLNK_Receive(handle, buffer, sizeof buffer, &received, 5000) != PDLNK_SUCCESS ||
        received != 5) {
      state.SkipWithError("exchange failed");
      break;
    }
    ++exchanges;
  }
  if (exchanges > 0)
    state.counters["allocs/exchange"] =
        static_cast<double>(q7mbench::AllocationCount() - allocationsBefore) /
        static_cast<double>(exchanges);
  PDLNK_Close(handle);
}
BENCHMARK(BM_PdlnkUsbExchange)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// ---- the floor: the bus protocol by hand on one connection ----

int RawOpen(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  const uint8_t open[12] = {'Q', 'H', 'B', 'O', 1, 0, 1, 0, 0, 0, 0, 0};
  uint8_t answer[4608];
  if (send(fd, open, sizeof open, MSG_NOSIGNAL) != sizeof open ||
      recv(fd, answer, sizeof answer, 0) < 4 || std::memcmp(answer, "QHBA", 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool RawExchange(int fd, uint8_t* out, uint8_t* in) {
  if (send(fd, out, kReportLength, MSG_NOSIGNAL) != static_cast<ssize_t>(kReportLength))
    return false;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 5000) != 1) return false;
  return recv(fd, in, kReportLength, MSG_DONTWAIT) == static_cast<ssize_t>(kReportLength) &&
         in[0] == 2 && in[2] == 5;
}

void BM_RawBusRoundTrip(benchmark::State& state) {
  Sim& sim = Sim::Instance();
  const int fd = sim.path().empty() ? -1 : RawOpen(sim.path());
  if (fd < 0) {
    state.SkipWithError("no reader");
    return;
  }
  static uint8_t out[kReportLength], in[kReportLength];
  out[0] = 2;
  out[2] = 3;
  std::memcpy(out + 3, kCommand, 3);
  const long allocationsBefore = q7mbench::AllocationCount();
  long exchanges = 0;
  for (auto _ : state) {
    if (!RawExchange(fd, out, in)) {
      state.SkipWithError("exchange failed");
      break;
    }
    ++exchanges;
  }
  if (exchanges > 0)
    state.counters["allocs/exchange"] =
        static_cast<double>(q7mbench::AllocationCount() - allocationsBefore) /
        static_cast<double>(exchanges);
  close(fd);
}
BENCHMARK(BM_RawBusRoundTrip)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  using q7mbench::Clock;
  using q7mbench::Compare;
  q7mbench::RunWithFloors({
      {"BM_PdlnkUsbExchange/process_time/real_time", "BM_RawBusRoundTrip/process_time/real_time",
       Clock::kReal, Compare::kRatioShown, 0},
      {"BM_PdlnkUsbExchange/process_time/real_time", "BM_RawBusRoundTrip/process_time/real_time",
       Clock::kCpu, Compare::kRatioShown, 0},
  });
  benchmark::Shutdown();
  return 0;
}
