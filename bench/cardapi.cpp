// What the API library adds to the exchanges an operation makes, measured in
// one run on the same emulated readers: RDAX_SendCommand of "C00" and of
// "C10" (entry and exit lines, the busy check, the API lock taken and given
// back, the result stored) against SEQUOR_Execute of the same command, on
// the serial link and on USB. At the end: the ratio of wall and CPU time per
// operation and the CPU an operation costs beyond its exchange.
//
// q7m-sim runs as a child process in a private directory, name space and
// HID bus of this run.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "support/sim_launcher.h"

namespace {

constexpr uint32_t kLineSpeed = 38400;

q7mbench::SimLauncher gSimulator("bench_cardapi");

double Seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Measured {
  double wall = 0;  // seconds per operation
  double cpu = 0;
};
// Keyed "<layer> <command> <link>".
std::map<std::string, Measured> gMeasured;

enum class Link { kSerial, kUsb };
const char* LinkName(Link link) {
  return link == Link::kSerial ? "serial" : "usb";
}

// Runs `operation` once per iteration (after one untimed run that binds the
// trace clients) and records wall and process CPU time per operation.
template <typename Operation>
void Measure(benchmark::State& state, const std::string& key, Operation operation) {
  if (!operation()) {
    state.SkipWithError("operation failed");
    return;
  }
  const double wall0 = Seconds(CLOCK_MONOTONIC), cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
  long count = 0;
  for (auto _ : state) {
    if (!operation()) {
      state.SkipWithError("operation failed");
      return;
    }
    ++count;
  }
  if (count == 0) return;
  gMeasured[key] = {(Seconds(CLOCK_MONOTONIC) - wall0) / static_cast<double>(count),
                    (Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / static_cast<double>(count)};
}

// The exchanges of `operation` ("C00", "C10", or "GetStatus": its C10, C11
// and CN0) through the execution service alone.
void SequorExecute(benchmark::State& state, const char* operation, Link link) {
  static const char* const kStatusCommands[] = {"C10", "C11", "CN0"};
  const bool status = std::string(operation) == "GetStatus";
  const char* const* commands = status ? kStatusCommands : &operation;
  const size_t count = status ? 3 : 1;
  const SEQUOR_OPEN_PARAMS params{0, kLineSpeed};
  SEQUOR_HANDLE session =
      link == Link::kSerial ? SEQUOR_Open("COM3", &params) : SEQUOR_Open(nullptr, nullptr);
  if (session == nullptr) {
    state.SkipWithError("SEQUOR_Open failed");
    return;
  }
  char response[1024];
  uint32_t length = 0;
  Measure(state, std::string("SEQUOR ") + operation + " " + LinkName(link), [&] {
    for (size_t i = 0; i < count; ++i) {
      if (SEQUOR_Execute(session, commands[i], 3, 30, response, sizeof response, &length, 30,
                         nullptr) != SEQUOR_SUCCESS ||
          length < 5 || response[0] != 'P')
        return false;
    }
    return true;
  });
  SEQUOR_Close(session);
}

void RdaxSendCommand(benchmark::State& state, const char* command, Link link) {
  RDAX_OPEN_PARAMS params{};
  params.words[1] = kLineSpeed;
  const RDAX* handle =
      link == Link::kSerial ? RDAX_OpenDevice("COM3", &params) : RDAX_OpenDevice(nullptr, nullptr);
  if (handle == nullptr) {
    state.SkipWithError("RDAX_OpenDevice failed");
    return;
  }
  char response[1024];
  uint32_t length = 0;
  Measure(state, std::string("RDAX ") + command + " " + LinkName(link), [&] {
    return RDAX_SendCommand(handle, command, 3, 30, response, sizeof response, &length, 30,
                            nullptr) == RDAX_OK &&
           length >= 5 && response[0] == 'P';
  });
  RDAX_CloseDevice(handle);
}

void RdaxGetStatus(benchmark::State& state, Link link) {
  RDAX_OPEN_PARAMS params{};
  params.words[1] = kLineSpeed;
  const RDAX* handle =
      link == Link::kSerial ? RDAX_OpenDevice("COM3", &params) : RDAX_OpenDevice(nullptr, nullptr);
  if (handle == nullptr) {
    state.SkipWithError("RDAX_OpenDevice failed");
    return;
  }
  RDAX_STATUS status{};
  Measure(state, std::string("RDAX GetStatus ") + LinkName(link),
          [&] { return RDAX_GetStatus(handle, &status, nullptr) == RDAX_OK; });
  RDAX_CloseDevice(handle);
}

void BM_SequorExecute_C00_Serial(benchmark::State& s) {
  SequorExecute(s, "C00", Link::kSerial);
}
void BM_RdaxSendCommand_C00_Serial(benchmark::State& s) {
  RdaxSendCommand(s, "C00", Link::kSerial);
}
void BM_SequorExecute_C10_Serial(benchmark::State& s) {
  SequorExecute(s, "C10", Link::kSerial);
}
void BM_RdaxSendCommand_C10_Serial(benchmark::State& s) {
  RdaxSendCommand(s, "C10", Link::kSerial);
}
void BM_SequorExecute_C00_Usb(benchmark::State& s) {
  SequorExecute(s, "C00", Link::kUsb);
}
void BM_RdaxSendCommand_C00_Usb(benchmark::State& s) {
  RdaxSendCommand(s, "C00", Link::kUsb);
}
void BM_SequorExecute_C10_Usb(benchmark::State& s) {
  SequorExecute(s, "C10", Link::kUsb);
}
void BM_RdaxSendCommand_C10_Usb(benchmark::State& s) {
  RdaxSendCommand(s, "C10", Link::kUsb);
}

void BM_SequorExecute_GetStatus_Serial(benchmark::State& s) {
  SequorExecute(s, "GetStatus", Link::kSerial);
}
void BM_RdaxGetStatus_Serial(benchmark::State& s) {
  RdaxGetStatus(s, Link::kSerial);
}
void BM_SequorExecute_GetStatus_Usb(benchmark::State& s) {
  SequorExecute(s, "GetStatus", Link::kUsb);
}
void BM_RdaxGetStatus_Usb(benchmark::State& s) {
  RdaxGetStatus(s, Link::kUsb);
}

#define Q7M_OPERATION_BENCHMARK(fn) \
  BENCHMARK(fn)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond)
Q7M_OPERATION_BENCHMARK(BM_SequorExecute_C00_Serial);
Q7M_OPERATION_BENCHMARK(BM_RdaxSendCommand_C00_Serial);
Q7M_OPERATION_BENCHMARK(BM_SequorExecute_C10_Serial);
Q7M_OPERATION_BENCHMARK(BM_RdaxSendCommand_C10_Serial);
Q7M_OPERATION_BENCHMARK(BM_SequorExecute_C00_Usb);
Q7M_OPERATION_BENCHMARK(BM_RdaxSendCommand_C00_Usb);
Q7M_OPERATION_BENCHMARK(BM_SequorExecute_C10_Usb);
Q7M_OPERATION_BENCHMARK(BM_RdaxSendCommand_C10_Usb);
Q7M_OPERATION_BENCHMARK(BM_SequorExecute_GetStatus_Serial);
Q7M_OPERATION_BENCHMARK(BM_RdaxGetStatus_Serial);
Q7M_OPERATION_BENCHMARK(BM_SequorExecute_GetStatus_Usb);
Q7M_OPERATION_BENCHMARK(BM_RdaxGetStatus_Usb);

void PrintRatios() {
  std::printf(
      "\nAPI operation / its exchanges (last run of each; SendCommand of C00 and C10, GetStatus "
      "against its C10, C11 and CN0; goal: at most 1.1x and 50 us CPU beyond the exchanges):\n");
  for (const char* link : {"serial", "usb"}) {
    for (const char* command : {"C00", "C10", "GetStatus"}) {
      const std::string suffix = std::string(command) + " " + link;
      const auto api = gMeasured.find("RDAX " + suffix);
      const auto exchange = gMeasured.find("SEQUOR " + suffix);
      if (api == gMeasured.end() || exchange == gMeasured.end()) continue;
      const Measured& a = api->second;
      const Measured& e = exchange->second;
      std::printf(
          "  %-6s %-9s: wall %.2fx (%.1f us / %.1f us), CPU %.2fx (%.1f us / %.1f us), "
          "CPU beyond the exchange %.1f us\n",
          link, command, a.wall / e.wall, a.wall * 1e6, e.wall * 1e6, a.cpu / e.cpu, a.cpu * 1e6,
          e.cpu * 1e6, (a.cpu - e.cpu) * 1e6);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  gSimulator.Start();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gSimulator.Stop();
  PrintRatios();
  return 0;
}
