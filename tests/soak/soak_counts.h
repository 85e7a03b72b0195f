// What one caller of the soak run counts, and how a worker process reports
// it to the test: one text line per thread.
#pragma once

#include <cstdint>
#include <string>

namespace soak {

constexpr int kThreadsPerProcess = 4;
constexpr int kUsbProcesses = 8;

// The first character of each caller's command codes: no command code the
// reader knows starts with one of them, so every command is answered by the
// reader's refusal, which echoes the code as it came. The first character
// names the caller, the second counts its commands round (a stale answer of
// the caller's own previous command differs there).
constexpr char kCallerMarks[] = "ABDHIJKOQRTZabcghijklopqrstuvwxyz";
constexpr char kSequenceMarks[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
static_assert(sizeof kCallerMarks - 1 >= kUsbProcesses * kThreadsPerProcess);

struct Counts {
  uint64_t sent = 0;         // commands that went to the reader
  uint64_t answered = 0;     // answers that carried this caller's own code
  uint64_t wrongCaller = 0;  // answers carrying another caller's code
  uint64_t stale = 0;        // this caller's code, but of an earlier command
  uint64_t lost = 0;         // sent, but no answer within the exchange's limits
  uint64_t busy = 0;         // refused: the reader was busy for someone else
  uint32_t openError = 0;    // the session could not be opened (last error)
  uint32_t lastFailure = 0;  // the result of the last lost exchange
  std::string lastWrong;     // what the last wrong answer looked like

  void Add(const Counts& other) {
    sent += other.sent;
    answered += other.answered;
    wrongCaller += other.wrongCaller;
    stale += other.stale;
    lost += other.lost;
    busy += other.busy;
  }
};

// "<thread> <sent> <answered> <wrong> <stale> <lost> <busy> <last failure> <last wrong>"
std::string Format(int thread, const Counts& counts);
// Parses a line of Format; false when it is not one.
bool Parse(const std::string& line, int* thread, Counts* counts);

}  // namespace soak
