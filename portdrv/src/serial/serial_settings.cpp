#include "serial_settings.h"

#include "device_name.h"
#include "q7m/common/profile.h"

namespace q7m {

namespace {

// The times are unsigned millisecond counts, as the port's own time-outs
// are: all ones (0xFFFFFFFF in the file, or a 32-bit registry number) is
// the usual way to write "no limit". The profile gives it as -1, which must
// not become 0: the driver would repeat its requests without pause.
uint32_t ReadMilliseconds(const Profile& profile, const char* section, const char* key,
                          uint32_t defaultValue) {
  return static_cast<uint32_t>(
      profile.GetInteger(section, key, static_cast<int32_t>(defaultValue)));
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
