// What the API library adds to the exchanges an operation makes, measured in
// one run on the same emulated readers: RDAX_SendCommand of "C00" and of
// "C10" (entry and exit lines, the busy check, the API lock taken and given
// back, the result stored) against SEQUOR_Execute of the same command, on
// the serial link and on USB. At the end: the ratio of wall and CPU time per
// operation and the CPU an operation costs beyond its exchange (medians when
// repeated).
//
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
#include <vector>

#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "support/floor_report.h"
#include "support/sim_launcher.h"

namespace {

constexpr uint32_t kLineSpeed = 38400;

q7mbench::SimLauncher gSimulator("bench_cardapi");

enum class Link { kSerial, kUsb };

// Runs `operation` once per iteration, after one untimed run that binds the
// trace clients.
template <typename Operation>
void Measure(benchmark::State& state, Operation operation) {
  if (!operation()) {
    state.SkipWithError("operation failed");
    return;
  }
  for (auto _ : state) {
    if (!operation()) {
      state.SkipWithError("operation failed");
      return;
    }
  }
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
  Measure(state, [&] {
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

// The emulated reader through the API on `link`; null (the benchmark
// skipped with the reason) when it cannot be opened.
const RDAX* OpenReader(benchmark::State& state, Link link) {
  RDAX_OPEN_PARAMS params{};
  params.words[1] = kLineSpeed;
  const RDAX* handle =
      link == Link::kSerial ? RDAX_OpenDevice("COM3", &params) : RDAX_OpenDevice(nullptr, nullptr);
  if (handle == nullptr) state.SkipWithError("RDAX_OpenDevice failed");
  return handle;
}

void RdaxSendCommand(benchmark::State& state, const char* command, Link link) {
  const RDAX* handle = OpenReader(state, link);
  if (handle == nullptr) return;
  char response[1024];
  uint32_t length = 0;
  Measure(state, [&] {
    return RDAX_SendCommand(handle, command, 3, 30, response, sizeof response, &length, 30,
                            nullptr) == RDAX_OK &&
           length >= 5 && response[0] == 'P';
  });
  RDAX_CloseDevice(handle);
}

void RdaxGetStatus(benchmark::State& state, Link link) {
  const RDAX* handle = OpenReader(state, link);
  if (handle == nullptr) return;
  RDAX_STATUS status{};
  Measure(state, [&] { return RDAX_GetStatus(handle, &status, nullptr) == RDAX_OK; });
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

// SendCommand of C00 and C10 against the same exchange, GetStatus against its
// C10, C11 and CN0: at most 1.1x the wall time and 50 us CPU beyond the
// exchanges.
std::vector<q7mbench::Target> Targets() {
  using q7mbench::Clock;
  using q7mbench::Compare;
  static std::vector<std::string> names;  // the targets point into these
  names.clear();
  names.reserve(24);
  std::vector<q7mbench::Target> targets;
  for (const char* link : {"Serial", "Usb"}) {
    for (const char* command : {"C00", "C10", "GetStatus"}) {
      const std::string suffix = std::string("_") + link + "/process_time/real_time";
      const bool status = std::string(command) == "GetStatus";
      names.push_back((status ? std::string("BM_RdaxGetStatus")
                              : std::string("BM_RdaxSendCommand_") + command) +
                      suffix);
      names.push_back(std::string("BM_SequorExecute_") + command + suffix);
      const char* api = names[names.size() - 2].c_str();
      const char* exchange = names.back().c_str();
      targets.push_back({api, exchange, Clock::kReal, Compare::kRatio, 1.1});
      targets.push_back({api, exchange, Clock::kCpu, Compare::kRatioShown, 0});
      targets.push_back({api, exchange, Clock::kCpu, Compare::kExcess, 50});
    }
  }
  return targets;
}

}  // namespace

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  gSimulator.Start();
  q7mbench::RunWithFloors(Targets());
  benchmark::Shutdown();
  gSimulator.Stop();
  return 0;
}
