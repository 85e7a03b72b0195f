#include "serial_settings.h"

#include "device_name.h"
#include "q7m/common/profile.h"

namespace q7m {

namespace {

uint32_t ReadMilliseconds(const Profile& profile, const char* section, const char* key,
                          uint32_t defaultValue) {
  const int32_t value = profile.GetInteger(section, key, static_cast<int32_t>(defaultValue));
  return value < 0 ? 0u : static_cast<uint32_t>(value);
}

}  // namespace

SerialSettings ReadSerialSettings(const void* module, const std::string& portName, bool baudGiven,
                                  int32_t nameBaud) {
  SerialSettings s;
  s.devicePath = DefaultSerialDevicePath(portName);
  if (baudGiven) s.baudRate = nameBaud;

  Profile profile(module);
  if (profile.OpenForModule()) {
    const char* section = portName.c_str();
    s.checkDsr = profile.GetSwitch(section, "DSR", true);
    s.timings.receiveAckTimeout =
        ReadMilliseconds(profile, section, "ReceiveAckTimeout", s.timings.receiveAckTimeout);
    s.timings.enqInterval =
        ReadMilliseconds(profile, section, "SendENQInvervalTime", s.timings.enqInterval);
    s.timings.eotInterval =
        ReadMilliseconds(profile, section, "SendEOTInvervalTime", s.timings.eotInterval);
    s.timings.charInterval =
        ReadMilliseconds(profile, section, "CharInvervalTimeout", s.timings.charInterval);
    if (!baudGiven) {
      const int32_t baud = profile.GetInteger(section, "BaudRate", 38400);
      if (baud != 0) s.baudRate = baud;
    }
    char path[4096];
    if (profile.GetString(section, "DevicePath", "", path, sizeof path) > 0) s.devicePath = path;
  }
  // A name with no node of its own is taken as the node's name, as the
  // system's own open of a port name would.
  if (s.devicePath.empty()) s.devicePath = portName;
  return s;
}

}  // namespace q7m
