// A q7m-sim process serving one serial reader "r1" on a pseudo-terminal,
// for tests: it writes the [COMn] DevicePath entry of PDLNK.INI in the
// test's working directory, and can be asked for its link counters and
// given faults while it runs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sim_process.h"

namespace q7mtest {

class SimReader {
 public:
  // Starts q7m-sim with a serial reader "r1" for port COM`com` (extra
  // options such as "--set", "BaudRate=9600" or "--fault", "nak count=2").
  // Fails the test (and returns false) when it does not come up.
  bool Start(int com, const std::vector<std::string>& options = {});
  void Stop() { sim_.Stop(); }

  std::string ptyPath() const { return sim_.PathOf("r1"); }
  // One control command; the answer's lines.
  std::vector<std::string> Control(const std::string& command) { return sim_.Control(command); }
  // The reader's link counters and fields ("CommandFrames", ...).
  std::map<std::string, std::string> Status() { return sim_.Status("r1"); }
  long Counter(const std::string& name) { return sim_.Counter("r1", name); }
  // Waits (bounded) until counter `name` reaches `atLeast`: what the host
  // wrote may not have been read by the reader yet.
  bool WaitForCounter(const std::string& name, long atLeast) {
    return sim_.AwaitCounterAtLeast("r1", name, atLeast) >= atLeast;
  }

 private:
  SimProcess sim_;
};

// The working directory the exports find PDLNK.INI in: a fresh directory
// per test, made current.
std::string EnterFreshWorkingDirectory();

}  // namespace q7mtest
