// How a caller's device name is read: which transport it chooses, and for
// the serial transport the port name and an optional baud rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace q7m {

enum class TransportKind { kSerial, kHid };

// The serial transport is chosen when the name starts with one of the
// letters C, O, M; anything else (also an empty or missing name) is HID.
TransportKind ChooseTransport(const char* deviceName);

struct SerialName {
  std::string portName;    // the part before the first colon
  bool baudGiven = false;  // a non-empty part after the colon whose value is not 0
  int32_t baudRate = 38400;
};

// Splits "COMn" or "COMn:baud". The baud part is read as the C library's
// decimal conversion does (leading digits; "9600x" is 9600).
SerialName ParseSerialName(const char* deviceName);

// The default device node of a port named "COMn" (n >= 1): /dev/ttyS<n-1>.
// Other names have none (empty).
std::string DefaultSerialDevicePath(const std::string& portName);

}  // namespace q7m
