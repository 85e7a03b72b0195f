// A serial port's settings from the library's INI file, section = the port
// name. The key names are part of the configuration format and stay as
// they are, misspellings included.
#pragma once

#include <cstdint>
#include <string>

#include "link_state.h"

namespace q7m {

struct SerialSettings {
  bool checkDsr = true;  // "DSR": anything but OFF watches the line
  serial::LinkTimings timings;
  int32_t baudRate = 38400;
  // Linux: the device node behind the port name ("DevicePath").
  std::string devicePath;
};

// Defaults first, then the INI file of the library that contains `module`.
// The INI "BaudRate" is read only when the name gave none (`baudGiven`);
// 0 keeps the default. Times are unsigned: all ones is no limit.
SerialSettings ReadSerialSettings(const void* module, const std::string& portName, bool baudGiven,
                                  int32_t nameBaud);

}  // namespace q7m
