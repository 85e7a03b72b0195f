// Apart from the tests that use <termios.h>: the kernel's termios2 header
// cannot share a translation unit with it.
#include "port_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pdlnktest {

uint32_t PortRate(int fd) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

}  // namespace pdlnktest
