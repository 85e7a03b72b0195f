// What the execution service adds to one command exchange, measured in one
// run next to the port driver's own exchange on the same emulated reader:
//  - PDLNK_Send + PDLNK_Receive of "C10" vs SEQUOR_Execute of "C10" (drain,
//    send, store the command, receive, store the response and the result),
//    on the serial link and, where the port driver offers it, on USB;
//  - the lock queries SEQUOR_IsXfsLocked and SEQUOR_IsApiLocked (each takes
//    the lock for a moment and gives it back), and SEQUOR_GetResult (two
//    data-mutex copies) as the floor of a shared-state access.
// q7m-sim runs as a child process in a private directory, name space and
// HID bus of this run.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "q7m/pdlnk.h"
#include "q7m/platform_sys.h"
#include "q7m/sequor.h"
#include "support/floor_report.h"

extern char** environ;

namespace {

constexpr char kCommand[] = "C10";
constexpr uint32_t kLineSpeed = 38400;

pid_t gSimulator = -1;
std::string gDir;
std::string gObjects;

void Fail(const char* what) {
  std::fprintf(stderr, "bench_execsvc: %s (last error %u)\n", what, Q7M_GetLastError());
  if (gSimulator > 0) kill(gSimulator, SIGKILL);
  std::exit(1);
}

// The directory of the running program (q7m-sim is beside it).
std::string ProgramDir() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) Fail("readlink /proc/self/exe");
  path[n] = '\0';
  return std::filesystem::path(path).parent_path().string();
}

// Starts q7m-sim with a serial reader on COM3 and a USB reader, in a fresh
// directory that becomes the current one (PDLNK.INI is found there), and
// waits for its "ready".
void StartSimulator() {
  char templ[] = "/tmp/bench_execsvc.XXXXXX";
  if (mkdtemp(templ) == nullptr) Fail("mkdtemp");
  gDir = templ;
  // Named objects live in memory, as in the default name space: every
  // uncontended use of the data mutex creates and removes one.
  char objects[] = "/dev/shm/bench_execsvc.XXXXXX";
  if (mkdtemp(objects) == nullptr) Fail("mkdtemp /dev/shm");
  gObjects = objects;
  std::filesystem::create_directories(gDir + "/hidbus");
  setenv("Q7M_OBJECT_DIR", gObjects.c_str(), 1);
  setenv("Q7M_HIDBUS_DIR", (gDir + "/hidbus").c_str(), 1);
  if (chdir(gDir.c_str()) != 0) Fail("chdir");

  int out[2];
  if (pipe(out) != 0) Fail("pipe");
  const std::string program = ProgramDir() + "/q7m-sim";
  const std::string ini = gDir + "/PDLNK.INI", control = gDir + "/sim.ctl";
  const char* argv[] = {program.c_str(), "--serial",  "--pdlnk-ini",   ini.c_str(), "--com", "3",
                        "--usb",         "--control", control.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  if (posix_spawn(&gSimulator, program.c_str(), &actions, nullptr, const_cast<char**>(argv),
                  environ) != 0)
    Fail("spawn q7m-sim");
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  FILE* banner = fdopen(out[0], "r");
  char line[512];
  while (banner != nullptr && std::fgets(line, sizeof line, banner) != nullptr) {
    if (std::string(line) == "ready\n") return;  // the pipe stays open: q7m-sim may print
  }
  Fail("q7m-sim did not get ready");
}

void StopSimulator() {
  if (gSimulator > 0) {
    kill(gSimulator, SIGTERM);
    waitpid(gSimulator, nullptr, 0);
  }
  std::error_code ec;
  std::filesystem::remove_all(gDir, ec);
  std::filesystem::remove_all(gObjects, ec);
}

// The port driver's device names and SEQUOR's names of the two readers.
struct Transport {
  const char* portName;
  const char* sequorName;
};
constexpr Transport kSerial{"COM3:38400", "COM3"};
constexpr Transport kUsb{"USB:", nullptr};

void PortDriverExchange(benchmark::State& state, const Transport& transport) {
  int port = -1;
  if (PDLNK_Open(&port, transport.portName, 1) != PDLNK_SUCCESS) {
    state.SkipWithError("the port driver cannot open this reader (transport not offered?)");
    return;
  }
  char response[4096];
  for (auto _ : state) {
    int received = 0;
    if (PDLNK_Send(port, kCommand, 3, 2000) != PDLNK_SUCCESS ||
        PDLNK_Receive(port, response, sizeof response, &received, 5000) != PDLNK_SUCCESS) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(received);
  }
  PDLNK_Close(port);
}

SEQUOR_HANDLE OpenSession(benchmark::State& state, const Transport& transport) {
  const SEQUOR_OPEN_PARAMS params{0, kLineSpeed};
  SEQUOR_HANDLE session =
      SEQUOR_Open(transport.sequorName, transport.sequorName != nullptr ? &params : nullptr);
  if (session == nullptr) state.SkipWithError("SEQUOR_Open failed (transport not offered?)");
  return session;
}

void SequorExchange(benchmark::State& state, const Transport& transport) {
  SEQUOR_HANDLE session = OpenSession(state, transport);
  if (session == nullptr) return;
  char response[4096];
  uint32_t length = 0;
  for (auto _ : state) {
    if (SEQUOR_Execute(session, kCommand, 3, 2, response, sizeof response, &length, 5, nullptr) !=
        SEQUOR_SUCCESS) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(length);
  }
  SEQUOR_Close(session);
}

void SessionCall(benchmark::State& state, uint32_t (*call)(SEQUOR_HANDLE), uint32_t expected) {
  SEQUOR_HANDLE session = OpenSession(state, kSerial);
  if (session == nullptr) return;
  for (auto _ : state) {
    if (call(session) != expected) {
      state.SkipWithError("unexpected answer");
      break;
    }
  }
  SEQUOR_Close(session);
}

uint32_t ReadStoredResult(SEQUOR_HANDLE session) {
  char buffer[1024];
  uint32_t length = 0, result = 0;
  return SEQUOR_GetResult(session, buffer, sizeof buffer, &length, &result);
}

void BM_PortDriverExchange_Serial(benchmark::State& state) {
  PortDriverExchange(state, kSerial);
}
void BM_SequorExecute_Serial(benchmark::State& state) {
  SequorExchange(state, kSerial);
}
void BM_PortDriverExchange_Usb(benchmark::State& state) {
  PortDriverExchange(state, kUsb);
}
void BM_SequorExecute_Usb(benchmark::State& state) {
  SequorExchange(state, kUsb);
}
void BM_SequorIsXfsLocked(benchmark::State& state) {
  SessionCall(state, &SEQUOR_IsXfsLocked, SEQUOR_SUCCESS);
}
void BM_SequorIsApiLocked(benchmark::State& state) {
  SessionCall(state, &SEQUOR_IsApiLocked, SEQUOR_SUCCESS);
}
void BM_SequorGetResult(benchmark::State& state) {
  SessionCall(state, &ReadStoredResult, SEQUOR_SUCCESS);
}

BENCHMARK(BM_PortDriverExchange_Serial)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SequorExecute_Serial)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PortDriverExchange_Usb)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SequorExecute_Usb)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SequorIsXfsLocked)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SequorIsApiLocked)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SequorGetResult)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  StartSimulator();
  using q7mbench::Clock;
  using q7mbench::Compare;
  q7mbench::RunWithFloors({
      {"BM_SequorIsXfsLocked", nullptr, Clock::kCpu, Compare::kAbsolute, 20},
      {"BM_SequorIsApiLocked", nullptr, Clock::kCpu, Compare::kAbsolute, 20},
      {"BM_SequorGetResult", nullptr, Clock::kCpu, Compare::kAbsolute, 20},
      {"BM_SequorExecute_Serial", "BM_PortDriverExchange_Serial", Clock::kCpu, Compare::kExcess,
       30},
      {"BM_SequorExecute_Serial", "BM_PortDriverExchange_Serial", Clock::kReal, Compare::kExcess,
       1100},
      {"BM_SequorExecute_Usb", "BM_PortDriverExchange_Usb", Clock::kCpu, Compare::kExcess, 30},
      {"BM_SequorExecute_Usb", "BM_PortDriverExchange_Usb", Clock::kReal, Compare::kExcess, 1100},
  });
  benchmark::Shutdown();
  StopSimulator();
  return 0;
}
