#include "serial_any_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "q7m/platform_sys.h"

namespace q7m::serial {

bool SetAnyBaudRate(int fd, uint32_t baud) {
  termios2 t;
  if (::ioctl(fd, TCGETS2, &t) != 0) {
    Q7M_SetLastErrorFromErrno();
    return false;
  }
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (::ioctl(fd, TCSETS2, &t) != 0) {
    Q7M_SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool ReadBaudRate(int fd, uint32_t* baud) {
  termios2 t;
  if (::ioctl(fd, TCGETS2, &t) != 0) {
    Q7M_SetLastErrorFromErrno();
    return false;
  }
  *baud = t.c_ospeed;
  return true;
}

}  // namespace q7m::serial
