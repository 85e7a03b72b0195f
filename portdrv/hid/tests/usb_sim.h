// A q7m-sim process serving USB readers on the test process's virtual HID
// bus (Q7M_HIDBUS_DIR), for the provider's and the port driver's USB
// tests: it is started as a real process, reports where its readers are,
// and takes control commands (faults, unplugging, fields) while it runs.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "sim_process.h"

namespace q7mtest {

class UsbSim {
 public:
  struct Reader {
    std::string name;
    std::vector<std::string> options;  // "--set", "ProductId=83", "--fault", ...
  };

  // Starts one emulator with these readers (each "--usb=<name>" followed by
  // its options). Fails the test (and returns false) when it does not come
  // up.
  bool Start(const std::vector<Reader>& readers, const std::vector<std::string>& general = {});
  bool Start(const std::string& name = "r1", const std::vector<std::string>& options = {});
  // SIGTERM and wait: the readers unplug cleanly.
  void Stop() { sim_.Stop(); }
  // SIGKILL: the socket files stay behind, refusing connections.
  void Kill() { sim_.Kill(); }

  // The socket path of a reader.
  std::string PathOf(const std::string& name) const { return sim_.PathOf(name); }
  std::vector<std::string> Control(const std::string& command) { return sim_.Control(command); }
  std::map<std::string, std::string> Status(const std::string& reader) {
    return sim_.Status(reader);
  }
  long Counter(const std::string& reader, const std::string& name) {
    return sim_.Counter(reader, name);
  }
  // Waits (bounded) until a counter has `value`: what the emulator learns
  // from a closing connection it learns in its own time. Returns the value
  // last seen.
  long AwaitCounter(const std::string& reader, const std::string& name, long value,
                    int timeLimitMs = 20000) {
    return sim_.AwaitCounter(reader, name, value, std::chrono::milliseconds(timeLimitMs));
  }
  // Wire-log lines of one reader of one kind ("RX", "TX", "CMD", "LINK").
  std::vector<std::string> LogLines(const std::string& reader, const std::string& kind) const {
    return sim_.LogLines(reader, kind);
  }

 private:
  SimProcess sim_;
};

// The directory of the test process's bus.
std::string BusDirectory();

}  // namespace q7mtest
