// The hidraw back end: readers on a USB port, as the kernel's hidraw driver
// presents them. The list and the identity come from the kernel's device
// tree (through libudev): the hidraw node's USB device gives ids, version
// and strings, its HID device the report descriptor. Share modes are kept
// with flock() on the node, so cooperating processes see the same
// exclusive-open rules as on the virtual bus.
#pragma once

#include <string>
#include <vector>

#include "device_identity.h"
#include "hidraw_identity.h"

namespace q7m::hid::hidraw {

// Device nodes of the hidraw devices present that have a USB parent, in
// device-number order (hidraw2 before hidraw10). Empty when the device tree
// cannot be read.
std::vector<std::string> ListDevices();

// Opens a node (path of a character device). `reports`: for reading and
// writing reports, else for the identity only. -1 with the last error.
int Open(const char* path, bool reports, bool exclusive);

// The identity of the device behind an open node. false with the last
// error (Q7M_ERROR_DEVICE_NOT_CONNECTED when it has gone).
bool IdentityOf(int fd, DeviceIdentity* identity);

// false when the device behind `fd` has gone.
bool Present(int fd);

// One report without waiting; a device without numbered reports gets its
// report id 0 put in front, as the bus and the system's HID class give it.
bool Read(int fd, bool numbered, uint8_t* buffer, uint32_t size, uint32_t* count);
bool Write(int fd, const uint8_t* buffer, uint32_t size, uint32_t* count);

}  // namespace q7m::hid::hidraw
