#include "serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "q7m/platform_sys.h"
#include "receive_events.h"
#include "serial_any_rate.h"

namespace q7m::serial {

uint32_t LineErrorEvent(uint32_t flags) {
  if (flags & kLineIoError) return kEventIoError;
  if (flags & (kLineRxOver | kLineOverrun)) return kEventOverrun;
  if (flags & kLineParity) return kEventParity;
  if (flags & kLineFrame) return kEventFraming;
  return kEventNone;
}

int OpenPortExclusive(const char* path) {
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // The holder's exclusive mode refuses a process without CAP_SYS_ADMIN
    // at the open itself: the port is in use, as when the flock refuses.
    if (errno == EBUSY) {
      Q7M_SetLastError(Q7M_ERROR_SHARING_VIOLATION);
    } else {
      Q7M_SetLastErrorFromErrno();
    }
    return -1;
  }
  // The terminal's exclusive mode does not stop a privileged process: the
  // advisory lock does, among processes that all take it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    Q7M_SetLastError(err == EWOULDBLOCK ? Q7M_ERROR_SHARING_VIOLATION
                                        : Q7M_Win32ErrorFromErrno(err));
    return -1;
  }
  if (::ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    Q7M_SetLastError(err == ENOTTY ? Q7M_ERROR_INVALID_HANDLE : Q7M_Win32ErrorFromErrno(err));
    return -1;
  }
  return fd;
}

void ReleasePortExclusive(int fd) {
  if (fd >= 0) ::ioctl(fd, TIOCNXCL);
}

namespace {

// The termios speed for a baud rate; false when termios has no constant for
// it.
bool BaudToSpeed(int32_t baud, speed_t* speed) {
  struct Rate {
    int32_t baud;
    speed_t speed;
  };
  static constexpr Rate kRates[] = {
      {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
  };
  for (const Rate& r : kRates) {
    if (r.baud == baud) {
      *speed = r.speed;
      return true;
    }
  }
  return false;
}

// Applies the link's line settings (see PortSettings::Configure) over
// `base`, the port's current ones. False with the last error.
bool ApplyLineSettings(int fd, const termios& base, int32_t baud) {
  if (baud <= 0) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return false;
  }
  // A rate without a constant is set through termios2 once the rest is in
  // place (over a constant one in between).
  speed_t speed = B38400;
  const bool constantRate = BaudToSpeed(baud, &speed);
  termios t = base;
  // Binary input: no break or parity marking, no stripping, no CR/NL
  // translation, no XON/XOFF; parity errors are checked (and counted).
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR |
                                      ICRNL | IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
  t.c_iflag |= INPCK;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // 8E1, receiver on, modem status lines ignored for opening and reading,
  // no hardware flow control.
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
  // The descriptor is non-blocking and the waits (with the character
  // interval) are done with poll, so a stop or cancel can end them. VMIN 1
  // makes an empty read answer EAGAIN; with 0 it would answer 0, which is
  // what a hang-up looks like.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) {
    Q7M_SetLastErrorFromErrno();
    return false;
  }
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    // A pseudo-terminal has no parity generator: when even parity is the
    // only change asked for (the port was left in our settings by an earlier
    // user), the kernel answers EINVAL. The line works without it, so take
    // the settings minus parity rather than fail the open.
    if (errno != EINVAL) {
      Q7M_SetLastErrorFromErrno();
      return false;
    }
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
      Q7M_SetLastErrorFromErrno();
      return false;
    }
  }
  if (!constantRate && !SetAnyBaudRate(fd, static_cast<uint32_t>(baud))) return false;
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIS, &lines);  // a pseudo-terminal has none: nothing to raise
  return true;
}

}  // namespace

PortSettings::PortSettings() = default;
PortSettings::~PortSettings() = default;

bool PortSettings::Configure(int fd, int32_t baud) {
  std::unique_ptr<termios> current(new (std::nothrow) termios{});
  if (!current) {
    Q7M_SetLastError(Q7M_ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (tcgetattr(fd, current.get()) != 0) {
    Q7M_SetLastErrorFromErrno();
    return false;
  }
  // The kernel sizes a terminal's queues itself, and there is no event
  // mask to set: the I/O thread waits for readability, takes line errors
  // from the error counters and looks at DSR itself.
  // Whatever was queued before we owned the port is not ours.
  tcflush(fd, TCIOFLUSH);
  if (!ApplyLineSettings(fd, *current, baud)) return false;
  saved_ = std::move(current);
  return true;
}

void PortSettings::Restore(int fd) {
  if (saved_ && fd >= 0) {
    tcsetattr(fd, TCSANOW, saved_.get());
    saved_.reset();
  }
}

void DiscardInput(int fd) {
  tcflush(fd, TCIFLUSH);
}

void LineErrorCounters::Reset(int fd) {
  available_ = false;
  ReadAndClear(fd);
}

uint32_t LineErrorCounters::ReadAndClear(int fd) {
  serial_icounter_struct c{};
  if (::ioctl(fd, TIOCGICOUNT, &c) != 0) {
    available_ = false;  // a pseudo-terminal: no counters, no line errors
    return 0;
  }
  uint32_t flags = 0;
  if (available_) {
    if (static_cast<uint32_t>(c.frame) != frame_) flags |= kLineFrame;
    if (static_cast<uint32_t>(c.overrun) != overrun_) flags |= kLineOverrun;
    if (static_cast<uint32_t>(c.parity) != parity_) flags |= kLineParity;
    if (static_cast<uint32_t>(c.brk) != brk_) flags |= kLineBreak;
    if (static_cast<uint32_t>(c.buf_overrun) != bufOverrun_) flags |= kLineRxOver;
  }
  available_ = true;
  frame_ = static_cast<uint32_t>(c.frame);
  overrun_ = static_cast<uint32_t>(c.overrun);
  parity_ = static_cast<uint32_t>(c.parity);
  brk_ = static_cast<uint32_t>(c.brk);
  bufOverrun_ = static_cast<uint32_t>(c.buf_overrun);
  return flags;
}

uint32_t InputQueueCount(int fd) {
  int count = 0;
  if (::ioctl(fd, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<uint32_t>(count);
}

bool HasModemLines(int fd) {
  int status = 0;
  return ::ioctl(fd, TIOCMGET, &status) == 0;
}

bool DsrPresent(int fd) {
  int status = 0;
  if (::ioctl(fd, TIOCMGET, &status) != 0) return true;
  return (status & TIOCM_DSR) != 0;
}

}  // namespace q7m::serial
