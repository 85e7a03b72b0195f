// A q7m-sim process for tests: started as a real program with a control
// socket and a wire log of its own, it reports where its readers are and
// takes control commands (faults, unplugging, fields) while it runs. The
// per-layer fixtures (serial reader, USB bus, execution service) build on
// this one so that starting, asking and waiting work the same everywhere.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "q7m_test.h"

namespace q7mtest {

class SimProcess {
 public:
  SimProcess() = default;
  // Stops the emulator cleanly, so no stale socket is left on the bus.
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts q7m-sim with `args` after its own --control and --log options
  // and waits for "ready"; `readers`, when not negative, is how many
  // "reader" lines must have come by then. Fails the test (and returns
  // false) when it does not come up.
  bool Start(const std::vector<std::string>& args, int readers = -1);
  // SIGTERM and wait: the readers unplug cleanly.
  void Stop();
  // SIGKILL: the socket files stay behind, refusing connections.
  void Kill();

  // The address a reader reported at start (pseudo-terminal or socket).
  std::string PathOf(const std::string& reader) const;
  // One control command, its words separated by blanks; the answer's lines.
  std::vector<std::string> Control(const std::string& command);
  // The reader's fields and link counters ("CommandFrames", ...).
  std::map<std::string, std::string> Status(const std::string& reader);
  long Counter(const std::string& reader, const std::string& name);
  // Waits (bounded) until a counter has exactly `value`, or at least
  // `value`: what the host wrote, or how a connection ended, the emulator
  // learns in its own time. Return the value last seen.
  long AwaitCounter(const std::string& reader, const std::string& name, long value,
                    std::chrono::milliseconds limit = std::chrono::seconds(20));
  long AwaitCounterAtLeast(const std::string& reader, const std::string& name, long value,
                           std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Waits (bounded) until the wire log holds `needle`.
  bool WaitForLog(const std::string& needle,
                  std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // Lines of the wire log of one reader whose third word is `kind` ("RX",
  // "TX", "CMD", "LINK", ...), each without the time stamp and reader name.
  std::vector<std::string> LogLines(const std::string& reader, const std::string& kind) const;

 private:
  template <typename Done>
  long AwaitCounterUntil(const std::string& reader, const std::string& name, Done done,
                         std::chrono::milliseconds limit);

  ChildProcess process_;
  std::string control_;
  std::string log_;
  std::map<std::string, std::string> paths_;
  bool running_ = false;
};

// The q7m-sim program of this build.
std::string SimProgramPath();

}  // namespace q7mtest
