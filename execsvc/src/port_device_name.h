// The device name SEQUOR_Open hands the port driver, built from the caller's
// reader name and open parameters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "q7m/sequor.h"

namespace q7m {

// "USB:" + a name of at most 259 characters + "," + the identifier list.
constexpr size_t kMaxIdentifierListLength = 8124;
constexpr size_t kPortDeviceNameCapacity = 4 + 259 + 1 + kMaxIdentifierListLength + 1;

struct PortDeviceName {
  char text[kPortDeviceNameCapacity];
  bool serial;  // a COM port; otherwise a USB reader
};

// Builds the name: "COM<digit>:<speed>" for a name that starts with "COM",
// "USB:<name>[,<id> <id> ...]" otherwise. Returns 0, or the Win32 error
// SEQUOR_Open reports: ERROR_INVALID_NAME (a name of 260 characters or more,
// or "COM" not followed by a digit) or ERROR_INVALID_DATA (serial without
// parameters, more than 128 identifiers, an identifier list that is too
// long).
uint32_t BuildPortDeviceName(const char* name, const SEQUOR_OPEN_PARAMS* params,
                             PortDeviceName* out);

}  // namespace q7m
