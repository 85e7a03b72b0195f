// The Linux side of a serial port: exclusive open, the line settings
// (termios), line error counters and the DSR line. A pseudo-terminal has
// no modem lines and no error counters: it reads as DSR present and never
// reports a line error.
#pragma once

#include <cstdint>
#include <memory>

// The C library's terminal settings: only this file's source sees them, so
// the transport's own header needs no <termios.h> (which cannot meet the
// kernel's termios2 header in one file).
struct termios;

namespace q7m::serial {

// Line error flags in the numbering callers and trace lines use.
constexpr uint32_t kLineRxOver = 0x0001;   // receive queue overflow
constexpr uint32_t kLineOverrun = 0x0002;  // hardware overrun
constexpr uint32_t kLineParity = 0x0004;
constexpr uint32_t kLineFrame = 0x0008;
constexpr uint32_t kLineBreak = 0x0010;
constexpr uint32_t kLineIoError = 0x0400;

// The receive event a set of line error flags stands for (kEventNone: none that
// matters): I/O error before overrun before parity before framing.
uint32_t LineErrorEvent(uint32_t flags);

// Opens the port for reading and writing, non-blocking, and takes it for
// this process alone (an advisory lock, which stops every cooperating
// process, and the terminal's exclusive mode, which stops other opens of
// unprivileged processes). -1 with the last error: Q7M_ERROR_SHARING_VIOLATION
// when another process holds it.
int OpenPortExclusive(const char* path);
// Gives the terminal's exclusive mode up (before the descriptor is closed).
void ReleasePortExclusive(int fd);

// A port's line settings as this process found them, put back when it lets
// the port go.
class PortSettings {
 public:
  PortSettings();
  ~PortSettings();
  PortSettings(const PortSettings&) = delete;
  PortSettings& operator=(const PortSettings&) = delete;

  // Saves the port's settings, discards whatever was queued before we owned
  // it, then applies 8 data bits, even parity, 1 stop bit at `baud` (any
  // positive rate; one without a termios constant is set through termios2):
  // raw binary, parity checking on, no flow control either way, no character
  // replacement or stripping, the receiver on, modem status ignored for
  // reads; reads do not block (waits are done with poll). DTR and RTS are
  // raised where the port has them. False with the last error; the saved
  // settings then count only once the link's are in force.
  bool Configure(int fd, int32_t baud);
  // Puts the saved settings back, once; nothing when none were saved.
  void Restore(int fd);

 private:
  std::unique_ptr<termios> saved_;
};

// Discards what came in and was not read yet.
void DiscardInput(int fd);

// Reading the kernel's line error counters: each Read gives the flags of
// the errors counted since the previous one.
class LineErrorCounters {
 public:
  // Takes the current counts as the new baseline.
  void Reset(int fd);
  uint32_t ReadAndClear(int fd);

 private:
  bool available_ = false;
  uint32_t frame_ = 0, overrun_ = 0, parity_ = 0, brk_ = 0, bufOverrun_ = 0;
};

// Bytes waiting in the driver's input queue.
uint32_t InputQueueCount(int fd);

// DSR: true when raised, or when the port has no modem lines to ask.
bool DsrPresent(int fd);
// True when the port has modem lines (a real UART, not a pseudo-terminal).
bool HasModemLines(int fd);

}  // namespace q7m::serial
