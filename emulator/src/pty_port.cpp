#include "pty_port.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace q7msim {

namespace {

struct BaudEntry {
  uint32_t rate;
  speed_t code;
};
const BaudEntry kBauds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

uint32_t RateOf(speed_t code) {
  for (const BaudEntry& e : kBauds) {
    if (e.code == code) return e.rate;
  }
  return 0;
}

}  // namespace

bool IsTermiosBaud(uint32_t baud) {
  for (const BaudEntry& e : kBauds) {
    if (e.rate == baud) return true;
  }
  return false;
}

PtyPort::~PtyPort() {
  Close();
}

bool PtyPort::Open(std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    *error = std::string("posix_openpt: ") + std::strerror(errno);
    return false;
  }
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    *error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
    Close();
    return false;
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    *error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
    Close();
    return false;
  }
  termios t{};
  if (tcgetattr(slave_, &t) == 0) {
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(slave_, TCSANOW, &t);
  }
  int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = std::string("fcntl: ") + std::strerror(errno);
    Close();
    return false;
  }
  return true;
}

void PtyPort::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}

uint32_t PtyPort::CheckLine(uint32_t baud, uint32_t* hostBaud) const {
  termios t{};
  *hostBaud = 0;
  if (master_ < 0 || tcgetattr(master_, &t) != 0) return kLineUnreadable;
  uint32_t problems = 0;
  uint32_t in = RateOf(cfgetispeed(&t));
  uint32_t out = RateOf(cfgetospeed(&t));
  *hostBaud = out;
  // An input speed of 0 means "the same as the output speed".
  if (out != baud || (in != 0 && in != baud)) problems |= kLineBaud;
  if (t.c_cflag & CSTOPB) problems |= kLineStopBits;
  if (t.c_cflag & PARODD) problems |= kLineOddParity;
  if (t.c_lflag & (ECHO | ICANON)) problems |= kLineNotRaw;
  if (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON)) problems |= kLineInputTranslation;
  if (t.c_oflag & OPOST) problems |= kLineOutputProcessing;
  return problems;
}

std::string DescribeLineProblems(uint32_t problems, uint32_t hostBaud, uint32_t baud) {
  std::string text;
  auto note = [&](const std::string& item) {
    if (!text.empty()) text += ", ";
    text += item;
  };
  if (problems & kLineUnreadable) note("line settings unreadable");
  if (problems & kLineBaud)
    note("baud " + std::to_string(hostBaud) + " instead of " + std::to_string(baud));
  if (problems & kLineStopBits) note("2 stop bits");
  if (problems & kLineOddParity) note("odd parity");
  if (problems & kLineNotRaw) note("not raw (echo or canonical input)");
  if (problems & kLineInputTranslation) note("input translation on");
  if (problems & kLineOutputProcessing) note("output processing on");
  return text;
}

}  // namespace q7msim
