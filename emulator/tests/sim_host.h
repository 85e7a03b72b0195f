// Host-side helpers for the emulator tests: start q7m-sim as a real process,
// talk to its control socket, and act as a host on the serial line and on
// the virtual HID bus. Written from the link descriptions, independently of
// the emulator's own code, so the tests check the emulator rather than
// restate it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "q7m_test.h"

namespace simtest {

using namespace std::chrono_literals;

// One q7m-sim process for one test, with its control socket and wire log in
// the test's scratch directory. The destructor kills what is left.
class SimProcess {
 public:
  // Starts q7m-sim with `args` and waits for "ready". Adds --control and
  // --log unless `args` carries them.
  bool Start(const std::vector<std::string>& args);
  // The path the banner gave for `reader`.
  std::string Address(const std::string& reader) const;
  // Sends a control command; the whole answer ("OK\n..." or "ERR ...").
  std::string Control(const std::string& command);
  // "ctl quit" and the exit code (-1 when it did not end).
  int Quit();
  const std::string& controlPath() const { return controlPath_; }
  const std::string& logPath() const { return logPath_; }
  std::string Log() const;
  // Waits until the wire log holds a line containing `needle`.
  bool WaitForLog(const std::string& needle, std::chrono::milliseconds limit = 5s) const;
  q7mtest::ChildProcess& process() { return process_; }

 private:
  q7mtest::ChildProcess process_;
  std::map<std::string, std::string> addresses_;
  std::string controlPath_;
  std::string logPath_;
};

// The host's end of the serial line.
class SerialHost {
 public:
  ~SerialHost();
  // Opens the pseudo-terminal slave raw, 8 data bits, even parity, 1 stop bit.
  bool Open(const std::string& path, unsigned baud = 38400);
  void Close();
  int fd() const { return fd_; }

  // A command frame built here: DLE STX, data with DLE doubled, DLE ETX, BCC.
  static std::string Frame(const std::string& message, bool wrongCheck = false);
  bool Send(const std::string& bytes);
  bool SendFrame(const std::string& message) { return Send(Frame(message)); }
  bool SendEnq() { return Send(std::string("\x10\x05", 2)); }
  bool SendEot() { return Send(std::string("\x10\x04", 2)); }

  // The next two-byte control sequence (DLE ACK / NAK / EOT) or "" on time-out.
  std::string ReadControl(std::chrono::milliseconds limit = 3s);
  // The next frame: its data with DLE undoubled, and whether its BCC is right.
  bool ReadFrame(std::string* data, bool* checkOk, std::chrono::milliseconds limit = 3s);
  // True when nothing at all arrives for `quiet`.
  bool Silent(std::chrono::milliseconds quiet);
  // Sends a command and returns the response (ACK, ENQ, frame); "" on failure.
  std::string Exchange(const std::string& command);

 private:
  bool ReadByte(uint8_t* byte, std::chrono::steady_clock::time_point deadline);
  int fd_ = -1;
};

// The identity a device gives when opened.
struct BusIdentity {
  uint16_t vendorId = 0, productId = 0, version = 0;
  uint16_t inputLength = 0, outputLength = 0, featureLength = 0;
  std::string manufacturer, product, serial;
  std::vector<uint8_t> descriptor;
};

// A host on the virtual HID bus.
class BusHost {
 public:
  static constexpr uint16_t kReports = 1;
  static constexpr uint16_t kExclusive = 2;

  ~BusHost();
  // Connects and opens; 0 when accepted, else the refusal reason, or -1 when
  // the device cannot be reached (errno tells why).
  int Open(const std::string& path, uint16_t flags, BusIdentity* identity = nullptr);
  void Close();
  int fd() const { return fd_; }

  // A whole output report of the device's output length carrying `message`
  // with the report id chosen by size.
  bool SendMessage(const std::string& message);
  bool SendPacket(const std::vector<uint8_t>& packet);
  // The next input report packet, or false on time-out / removal.
  bool ReceivePacket(std::vector<uint8_t>* packet, std::chrono::milliseconds limit = 3s);
  // The next input report's message (id, big-endian length, data).
  bool ReceiveMessage(std::string* message, std::chrono::milliseconds limit = 3s);
  // True when the device closed the connection (removal).
  bool WaitForHangup(std::chrono::milliseconds limit = 3s);
  // Sends `message`, returns the answer's message ("" on failure).
  std::string Exchange(const std::string& message);

  const BusIdentity& identity() const { return identity_; }

 private:
  int fd_ = -1;
  BusIdentity identity_;
};

// Report ids by size, as a host computes them.
unsigned ReportIdForUsed(size_t used);
size_t ReportSizeOf(unsigned id);

// Bus directory of this test process.
std::string BusDir();
std::string ProgramPath();

}  // namespace simtest
