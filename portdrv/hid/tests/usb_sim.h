// A q7m-sim process serving USB readers on the test process's virtual HID
// bus (Q7M_HIDBUS_DIR), for the provider's and the port driver's USB
// tests: it is started as a real process, reports where its readers are,
// and takes control commands (faults, unplugging, fields) while it runs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "q7m_test.h"

namespace q7mtest {

class UsbSim {
 public:
  struct Reader {
    std::string name;
    std::vector<std::string> options;  // "--set", "ProductId=83", "--fault", ...
  };

  // Starts one emulator with these readers (each "--usb=<name>" followed by
  // its options) and a wire log. Fails the test (and returns false) when it
  // does not come up.
  UsbSim() = default;
  // Stops the emulator cleanly, so no stale socket is left on the bus.
  ~UsbSim() { Stop(); }
  UsbSim(const UsbSim&) = delete;
  UsbSim& operator=(const UsbSim&) = delete;

  bool Start(const std::vector<Reader>& readers, const std::vector<std::string>& general = {});
  bool Start(const std::string& name = "r1", const std::vector<std::string>& options = {});
  // SIGTERM and wait: the readers unplug cleanly.
  void Stop();
  // SIGKILL: the socket files stay behind, refusing connections.
  void Kill();

  // The socket path of a reader.
  std::string PathOf(const std::string& name) const;
  // One control command; the answer's lines.
  std::vector<std::string> Control(const std::string& command);
  std::map<std::string, std::string> Status(const std::string& reader);
  long Counter(const std::string& reader, const std::string& name);
  // Waits (bounded) until a counter has `value`: what the emulator learns
  // from a closing connection it learns in its own time. Returns the value
  // last seen.
  long AwaitCounter(const std::string& reader, const std::string& name, long value,
                    int timeLimitMs = 20000);
  // Lines of the wire log of one reader that contain `kind` as their third
  // word ("RX", "TX", "CMD", "LINK", ...), each without the time stamp and
  // reader name.
  std::vector<std::string> LogLines(const std::string& reader, const std::string& kind);

 private:
  ChildProcess process_;
  std::string control_;
  std::string log_;
  std::map<std::string, std::string> paths_;
  bool stopped_ = false;
};

// The directory of the test process's bus.
std::string BusDirectory();

}  // namespace q7mtest
