// The line rate a serial port descriptor is set to, as the kernel keeps it
// (termios2, which <termios.h> cannot express for rates without a constant).
#pragma once

#include <cstdint>

namespace pdlnktest {

// Bits per second of the output side; 0 when the descriptor does not answer.
uint32_t PortRate(int fd);

}  // namespace pdlnktest
