// Baud rates that termios has no constant for (14400, 28800, 56000, 128000,
// 256000, ...): Linux takes any rate through termios2 with BOTHER. Kept in a
// file of its own because the kernel's termios2 header cannot be included
// together with the C library's <termios.h>.
#pragma once

#include <cstdint>

namespace q7m::serial {

// Sets both directions of the port to `baud` bits per second, leaving every
// other setting as it is. False with the last error (the driver refuses a
// rate it cannot make).
bool SetAnyBaudRate(int fd, uint32_t baud);
// The output rate the port is set to, in bits per second. False with the
// last error.
bool ReadBaudRate(int fd, uint32_t* baud);

}  // namespace q7m::serial
