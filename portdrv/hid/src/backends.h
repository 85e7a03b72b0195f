// The two back ends of the provider as one table of operations each:
// hidraw nodes (real readers) and sockets of the virtual HID bus (the
// emulator). Which one serves a file is decided here alone, by its type.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device_identity.h"

namespace q7m::hid {

struct BackendOps {
  Backend backend;
  // The device paths of this back end.
  std::vector<std::string> (*list)();
  // Opens `path` and reads its identity: the descriptor, or -1 with the
  // last error (Q7M_ERROR_FILE_NOT_FOUND for a device gone meanwhile).
  int (*open)(const char* path, bool reports, bool exclusive, DeviceIdentity* identity);
  bool (*identity)(int fd, DeviceIdentity* identity);
  bool (*present)(int fd);
  // One input report; false with the last error.
  bool (*read)(int fd, uint8_t* buffer, uint32_t size, uint32_t* count);
  // One output report; false with the last error.
  bool (*write)(int fd, const uint8_t* buffer, uint32_t size, uint32_t* count);
};

// Both back ends, in listing order.
extern const BackendOps* const kBackends[2];

// The back end of a file of type `mode` (a socket: the bus; a character
// device: hidraw), or null.
const BackendOps* BackendOfMode(mode_t mode);
// The back end of an open descriptor, or null with Q7M_ERROR_INVALID_HANDLE.
const BackendOps* BackendOfDescriptor(int fd);

}  // namespace q7m::hid
