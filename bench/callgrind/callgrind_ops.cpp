// Performs each of a fixed set of API operations N times against q7m-sim, so
// that callgrind can count the instructions one operation costs in the
// calling process: a number that stays put on a noisy machine, where the
// benchmarks' times do not.
//
//   valgrind --tool=callgrind --instr-atstart=no bin/callgrind_ops [N]
//
// Only the measured loop of each operation is instrumented (after one
// untimed call that binds the trace clients and opens what is opened on
// first use), and the counts are dumped after it under the operation's name
// ("op:<name>"), so each dump holds exactly N operations. The emulator runs
// as a child process that valgrind does not follow: its instructions are not
// in the counts. Without valgrind the program simply runs every operation N
// times and fails when one of them fails (the cheap check that it still
// works).
#include <signal.h>
#include <sys/prctl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "q7m/platform_sys.h"
#include "q7m/rdax.h"
#include "q7m/scribel.h"
#include "q7m/sequor.h"
#include "support/sim_launcher.h"

#if defined(Q7M_HAVE_CALLGRIND_H)
#include <valgrind/callgrind.h>
#else
// Without the header the program still builds and runs natively; the counts
// then need valgrind's --toggle-collect instead.
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#define CALLGRIND_DUMP_STATS_AT(name) ((void)(name))
#define RUNNING_ON_VALGRIND 0
#endif

namespace {

constexpr uint32_t kLineSpeed = 38400;
constexpr uint32_t kTimeoutSeconds = 30;  // generous: the client runs slowly under valgrind

q7mbench::SimLauncher gSimulator("callgrind_ops");

struct Operation {
  const char* name;
  std::function<bool()> call;
};

// One untimed call, then `iterations` instrumented ones, dumped under the
// operation's name.
bool Measure(const Operation& op, long iterations) {
  if (!op.call()) {
    std::fprintf(stderr, "%s: failed on its first call (last error %u)\n", op.name,
                 Q7M_GetLastError());
    return false;
  }
  bool ok = true;
  CALLGRIND_START_INSTRUMENTATION;
  for (long i = 0; i < iterations && ok; ++i) ok = op.call();
  CALLGRIND_STOP_INSTRUMENTATION;
  const std::string label = std::string("op:") + op.name;
  CALLGRIND_DUMP_STATS_AT(label.c_str());
  std::printf("%-28s %s\n", op.name, ok ? "ok" : "FAILED");
  return ok;
}

bool ExecuteC10(SEQUOR_HANDLE session) {
  char response[1024];
  uint32_t length = 0;
  return SEQUOR_Execute(session, "C10", 3, kTimeoutSeconds, response, sizeof response, &length,
                        kTimeoutSeconds, nullptr) == SEQUOR_SUCCESS &&
         length >= 5 && response[0] == 'P';
}

// The serial port takes one session at a time: the execution service's
// sessions are closed before the API library opens its own.
int RunSequor(long iterations) {
  const SEQUOR_OPEN_PARAMS params{0, kLineSpeed};
  SEQUOR_HANDLE serial = SEQUOR_Open("COM3", &params);
  SEQUOR_HANDLE usb = SEQUOR_Open(nullptr, nullptr);
  int failures = 0;
  if (serial == nullptr || usb == nullptr) {
    std::fprintf(stderr, "SEQUOR_Open failed (%s)\n", serial ? "usb" : "serial");
    failures = 1;
  } else {
    const Operation operations[] = {
        {"SEQUOR_IsXfsLocked", [&] { return SEQUOR_IsXfsLocked(serial) == SEQUOR_SUCCESS; }},
        {"SEQUOR_IsApiLocked", [&] { return SEQUOR_IsApiLocked(serial) == SEQUOR_SUCCESS; }},
        {"SEQUOR_GetResult",
         [&] {
           char buffer[1024];
           uint32_t length = 0, result = 0;
           return SEQUOR_GetResult(serial, buffer, sizeof buffer, &length, &result) ==
                  SEQUOR_SUCCESS;
         }},
        {"SEQUOR_Execute C10 serial", [&] { return ExecuteC10(serial); }},
        {"SEQUOR_Execute C10 usb", [&] { return ExecuteC10(usb); }},
    };
    for (const Operation& op : operations) failures += Measure(op, iterations) ? 0 : 1;
  }
  if (usb != nullptr) SEQUOR_Close(usb);
  if (serial != nullptr) SEQUOR_Close(serial);
  return failures;
}

bool SendC10(const RDAX* handle) {
  char response[1024];
  uint32_t length = 0;
  return RDAX_SendCommand(handle, "C10", 3, kTimeoutSeconds, response, sizeof response, &length,
                          kTimeoutSeconds, nullptr) == RDAX_OK &&
         length >= 5 && response[0] == 'P';
}

int RunRdax(long iterations) {
  RDAX_OPEN_PARAMS params{};
  params.words[1] = kLineSpeed;
  const RDAX* serial = RDAX_OpenDevice("COM3", &params);
  const RDAX* usb = RDAX_OpenDevice(nullptr, nullptr);
  int failures = 0;
  if (serial == nullptr || usb == nullptr) {
    std::fprintf(stderr, "RDAX_OpenDevice failed (%s, last error %u)\n", serial ? "usb" : "serial",
                 Q7M_GetLastError());
    failures = 1;
  } else {
    const Operation operations[] = {
        {"RDAX_SendCommand C10 serial", [&] { return SendC10(serial); }},
        {"RDAX_SendCommand C10 usb", [&] { return SendC10(usb); }},
        // One per family: device status (three exchanges), card transport
        // (a card-status query answered at once), chip (a SAM's status;
        // needs no card in the slot).
        {"RDAX_GetStatus serial",
         [&] {
           RDAX_STATUS status{};
           return RDAX_GetStatus(serial, &status, nullptr) == RDAX_OK;
         }},
        {"RDAX_MonitorCardStatus serial",
         [&] {
           RDAX_CARD_STATUS status{};
           return RDAX_MonitorCardStatus(serial, 0, &status, nullptr) == RDAX_OK;
         }},
        {"RDAX_GetSAMStatus serial",
         [&] {
           uint16_t status = 0;
           return RDAX_GetSAMStatus(serial, RDAX_SAM_FIRST, &status, nullptr) == RDAX_OK;
         }},
    };
    for (const Operation& op : operations) failures += Measure(op, iterations) ? 0 : 1;
  }
  if (usb != nullptr) RDAX_CloseDevice(usb);
  if (serial != nullptr) RDAX_CloseDevice(serial);
  return failures;
}

int RunLocal(long iterations) {
  // A ring of the default record length in this run's directory (the
  // current one, see SimLauncher), nothing flushed per record.
  std::ofstream("CALLGRIND.INI") << "[SCRIBEL]\nFILEPATH=.\nFILENAME=callgrind.log\n"
                                    "RECORDLENGTH=86\nMAXRECORD=1000\nFILEFLUSH=OFF\n";
  SCRIBEL_HANDLE trace = nullptr;
  if (SCRIBEL_Initialize(&trace, "./CALLGRIND.INI", "CALLGRIND") != 1) {
    std::fprintf(stderr, "cannot open the trace ring (last error %u)\n", Q7M_GetLastError());
    return 1;
  }
  static const char kLine[] = "SEQUOR:Execute P1=0x0000002A P2=0x00000010 Q1=0x00000000";
  // Opened by name below while this handle keeps the object alive.
  Q7M_HANDLE held = Q7M_CreateMutex(0, "callgrind held");
  if (held == nullptr) {
    std::fprintf(stderr, "cannot create a named mutex (last error %u)\n", Q7M_GetLastError());
    return 1;
  }
  const Operation operations[] = {
      {"Q7M_CreateMutex+Close",
       [] {
         Q7M_HANDLE h = Q7M_CreateMutex(0, "callgrind fresh");
         return h != nullptr && Q7M_CloseHandle(h) != 0;
       }},
      {"Q7M_OpenMutex+Close",
       [] {
         Q7M_HANDLE h = Q7M_OpenMutex("callgrind held");
         return h != nullptr && Q7M_CloseHandle(h) != 0;
       }},
      {"SCRIBEL_Output",
       [&] {
         SCRIBEL_Output(trace, kLine, sizeof kLine - 1);
         return true;
       }},
  };
  int failures = 0;
  for (const Operation& op : operations) failures += Measure(op, iterations) ? 0 : 1;
  Q7M_CloseHandle(held);
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  long iterations = 100;
  if (argc > 2 || (argc == 2 && (iterations = std::strtol(argv[1], nullptr, 10)) <= 0)) {
    std::fprintf(stderr, "usage: %s [iterations per operation, default 100]\n", argv[0]);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("iterations %ld%s\n", iterations, RUNNING_ON_VALGRIND ? " (under valgrind)" : "");
  gSimulator.Start();
  const int failures = RunSequor(iterations) + RunRdax(iterations) + RunLocal(iterations);
  gSimulator.Stop();
  return failures == 0 ? 0 : 1;
}
