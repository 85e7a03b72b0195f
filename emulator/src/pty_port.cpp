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

std::string PtyPort::CheckLine(uint32_t baud) const {
  termios t{};
  if (master_ < 0 || tcgetattr(master_, &t) != 0) return "line settings unreadable";
  std::string problems;
  auto note = [&](const std::string& text) {
    if (!problems.empty()) problems += ", ";
    problems += text;
  };
  uint32_t in = RateOf(cfgetispeed(&t));
  uint32_t out = RateOf(cfgetospeed(&t));
  if (out != baud || (in != 0 && in != baud))
    note("baud " + std::to_string(out) + " instead of " + std::to_string(baud));
  if (t.c_cflag & CSTOPB) note("2 stop bits");
  if (t.c_cflag & PARODD) note("odd parity");
  if (t.c_lflag & (ECHO | ICANON)) note("not raw (echo or canonical input)");
  if (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON)) note("input translation on");
  if (t.c_oflag & OPOST) note("output processing on");
  return problems;
}

}  // namespace q7msim
