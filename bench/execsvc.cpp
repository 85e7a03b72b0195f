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
#include "support/sim_launcher.h"

namespace {

constexpr char kCommand[] = "C10";
constexpr uint32_t kLineSpeed = 38400;

q7mbench::SimLauncher gSimulator("bench_execsvc");

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
  gSimulator.Start();
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
  gSimulator.Stop();
  return 0;
}
