// The virtual HID bus back end (docs/virtual-hid-bus.md): a device is a
// sequenced-packet socket in the bus directory; opening it is a connect
// plus the open handshake, and every packet after that is one report.
#pragma once

#include <string>
#include <vector>

#include "bus_identity.h"
#include "device_identity.h"

namespace q7m::hid::bus {

// $Q7M_HIDBUS_DIR, or /tmp/q7m-hidbus-<uid> when unset or empty.
std::string Directory();

// Whether a directory entry's name is that of a device ("<name>.hid" with
// letters, digits, '.', '_' and '-', not starting with '.', at most 64
// characters before ".hid").
bool IsDeviceName(const char* name);

// Paths of the device sockets in the bus directory, in byte order of their
// names. No directory, or one that is not this user's or root's or that
// anyone may write to: none.
std::vector<std::string> ListDevices();

// Connects and opens. `reports`: a report connection (exclusive or not);
// otherwise an identity probe. -1 with the last error (ACCESS_DENIED for a
// device in a directory that is not trusted as the bus directory is); the
// identity the device announced otherwise.
int Open(const char* path, bool reports, bool exclusive, DeviceIdentity* identity);

// The identity of the device at the other end of a connection that this
// process did not open itself (taken over from another process): a fresh
// probe of the same device.
bool IdentityOf(int fd, DeviceIdentity* identity);

// false when the device at the other end has gone.
bool Present(int fd);

bool Read(int fd, uint8_t* buffer, uint32_t size, uint32_t* count);
bool Write(int fd, const uint8_t* buffer, uint32_t size, uint32_t* count);

}  // namespace q7m::hid::bus
