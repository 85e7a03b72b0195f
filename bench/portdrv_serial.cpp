// One serial exchange (a command frame, its acknowledgement, the request
// for the response and the response frame) against q7m-sim on a
// pseudo-terminal: through PDLNK_Send + PDLNK_Receive, and as the least a
// host can do for the same frames over the same kind of pty (the floor).
// Wall time per exchange, CPU time of this whole process per exchange (the
// port's I/O thread included) and heap allocations per exchange.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
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

// A q7m-sim process with one serial reader on COM`com`; PDLNK.INI is
// written into the current directory.
class Sim {
 public:
  explicit Sim(int com) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    std::string dir(self);
    dir.erase(dir.rfind('/') + 1);
    const std::string sim = dir + "q7m-sim";
    const std::string comText = std::to_string(com);
    int out[2];
    if (pipe(out) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      execl(sim.c_str(), sim.c_str(), "--no-control", "--serial=r1", "--pdlnk-ini", "PDLNK.INI",
            "--com", comText.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char line[512];
    while (fgets(line, sizeof line, lines) != nullptr) {
      char path[256];
      if (std::sscanf(line, "reader r1 serial %255s", path) == 1) pty_ = path;
      if (std::strncmp(line, "ready", 5) == 0) break;
    }
    output_ = lines;
  }
  ~Sim() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    if (output_) fclose(output_);
  }
  const std::string& pty() const { return pty_; }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  std::string pty_;
};

// A directory of this run for the emulator's PDLNK.INI, made the current one
// (where the port driver looks for it), removed again at the end of the
// benchmark: each run makes one, and repeated runs would litter /tmp.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    char dir[] = "/tmp/bench_portdrv_XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
    path_ = dir;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

 private:
  std::string path_;
};

constexpr char kCommand[] = "C10";

void BM_PdlnkExchange(benchmark::State& state) {
  ScratchDirectory scratch;  // outlives the emulator
  Sim sim(7);
  int handle = -1;
  if (sim.pty().empty() || PDLNK_Open(&handle, "COM7", 0) != PDLNK_SUCCESS) {
    state.SkipWithError("no reader");
    return;
  }
  char buffer[1100];
  long allocationsBefore = 0;
  long exchanges = 0;
  for (auto _ : state) {
    if (exchanges == 1) allocationsBefore = q7mbench::AllocationCount();
    int received = 0;
    if (PDLNK_Send(handle, kCommand, 3, 5000) != PDLNK_SUCCESS ||
        PDLNK_Receive(handle, buffer, sizeof buffer, &received, 5000) != PDLNK_SUCCESS) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(received);
    ++exchanges;
  }
  // The first exchange is left out: the trace client binds on first use.
  if (exchanges > 1)
    state.counters["allocs/exchange"] =
        static_cast<double>(q7mbench::AllocationCount() - allocationsBefore) /
        static_cast<double>(exchanges - 1);
  PDLNK_Close(handle);
}
BENCHMARK(BM_PdlnkExchange)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

// ---- the floor: the same frames, written and parsed by hand ----

bool ReadSome(int fd, uint8_t* buffer, size_t capacity, size_t* count) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 5000) != 1) return false;
  ssize_t n = read(fd, buffer, capacity);
  if (n <= 0) return false;
  *count = static_cast<size_t>(n);
  return true;
}

bool HandWrittenExchange(int fd) {
  static constexpr uint8_t kFrame[] = {0x10, 0x02, 'C',  '1',
                                       '0',  0x10, 0x03, 'C' ^ '1' ^ '0' ^ 0x03};
  static constexpr uint8_t kEnq[] = {0x10, 0x05};
  uint8_t in[2048];
  size_t n = 0;
  if (write(fd, kFrame, sizeof kFrame) != sizeof kFrame) return false;
  if (!ReadSome(fd, in, sizeof in, &n) || n < 2 || in[1] != 0x06) return false;
  if (write(fd, kEnq, sizeof kEnq) != sizeof kEnq) return false;
  // The response frame is the last thing the reader sends: it is complete
  // when what came in ends with DLE ETX and the check byte.
  size_t total = 0;
  for (;;) {
    if (!ReadSome(fd, in + total, sizeof in - total, &n)) return false;
    total += n;
    if (total >= 5 && in[total - 3] == 0x10 && in[total - 2] == 0x03) return true;
    if (total == sizeof in) return false;
  }
}

void BM_HandWrittenExchange(benchmark::State& state) {
  ScratchDirectory scratch;  // outlives the emulator
  Sim sim(8);
  int fd = open(sim.pty().c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (fd < 0 || tcgetattr(fd, &t) != 0) {
    state.SkipWithError("no reader");
    return;
  }
  cfmakeraw(&t);
  t.c_cflag |= PARENB;
  cfsetspeed(&t, B38400);
  tcsetattr(fd, TCSANOW, &t);
  for (auto _ : state) {
    if (!HandWrittenExchange(fd)) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  close(fd);
}
BENCHMARK(BM_HandWrittenExchange)
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
      {"BM_PdlnkExchange/process_time/real_time", "BM_HandWrittenExchange/process_time/real_time",
       Clock::kReal, Compare::kRatio, 1.2},
      {"BM_PdlnkExchange/process_time/real_time", "BM_HandWrittenExchange/process_time/real_time",
       Clock::kCpu, Compare::kRatio, 1.5},
  });
  benchmark::Shutdown();
  return 0;
}
