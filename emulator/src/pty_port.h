// The pseudo-terminal the serial reader sits on. The emulator owns the
// master side; a host opens the slave path as its COM port.
//
// What a pseudo-terminal can and cannot show of a real serial line:
// - The host's termios settings are visible through the master (the kernel
//   applies termios requests on the master to the slave), so line speed,
//   stop bits, the odd-parity flag and raw mode can be checked.
// - The kernel clears PARENB on a pseudo-terminal and forces 8 data bits, so
//   "parity enabled" and the data bit count cannot be seen.
// - There are no modem lines (TIOCMGET fails with ENOTTY): the reader cannot
//   drop DSR, and no byte is ever received with a parity or framing error.
// - Bytes move at memory speed whatever the baud rate.
#pragma once

#include <cstdint>
#include <string>

namespace q7msim {

class PtyPort {
 public:
  PtyPort() = default;
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // Opens a new master (non-blocking). The emulator also keeps the slave open
  // itself: without that, the master reports a hang-up whenever no host has
  // the port open. The slave starts raw at 9600 baud, so a host that does
  // not set the line up is noticed by CheckLine.
  bool Open(std::string* error);
  void Close();

  int master() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }

  // Compares the host's line settings with what the reader runs at: `baud`,
  // one stop bit, no odd parity, raw mode (no echo, no canonical input, no
  // character translation either way). Returns a set of LineProblem bits, 0
  // when they match; `hostBaud` receives the host's speed. Nothing is
  // allocated: this runs for every frame.
  uint32_t CheckLine(uint32_t baud, uint32_t* hostBaud) const;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

enum LineProblem : uint32_t {
  kLineUnreadable = 1u << 0,
  kLineBaud = 1u << 1,
  kLineStopBits = 1u << 2,
  kLineOddParity = 1u << 3,
  kLineNotRaw = 1u << 4,
  kLineInputTranslation = 1u << 5,
  kLineOutputProcessing = 1u << 6,
};

// The problems of a CheckLine result as text ("baud 9600 instead of 38400,
// 2 stop bits").
std::string DescribeLineProblems(uint32_t problems, uint32_t hostBaud, uint32_t baud);

// True when `baud` is a rate termios can express.
bool IsTermiosBaud(uint32_t baud);

}  // namespace q7msim
