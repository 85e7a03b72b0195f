// The two tables that turn a failed status query into a device status.
#include "device_status.h"

#include <cstring>

#include "q7m/rdax.h"

namespace q7m::rdax {

// The device status a refusing status query stands for.
uint16_t DeviceStatusFromCode(char c1, char c2) {
  const char code[3] = {c1, c2, '\0'};
  static constexpr const char* kUserErrors[] = {"01", "02", "03", "04", "20", "21", "34", "35"};
  static constexpr const char* kHardwareErrors[] = {"05", "06", "07", "08", "09", "0A", "0B", "10",
                                                    "11", "14", "15", "16", "19", "70", "71", "72",
                                                    "81", "88", "1Y", "1Z", "1H", "1J"};
  for (const char* c : kUserErrors) {
    if (std::strcmp(c, code) == 0) return RDAX_DEVICE_USER_ERROR;
  }
  for (const char* c : kHardwareErrors) {
    if (std::strcmp(c, code) == 0) return RDAX_DEVICE_HARDWARE_ERROR;
  }
  if (std::strcmp(code, "18") == 0) return RDAX_DEVICE_POWER_OFF;
  return RDAX_DEVICE_ONLINE;
}

// The device status a failed status exchange stands for.
uint16_t DeviceStatusFromResult(uint32_t result) {
  switch (result) {
    case RDAX_E_PARAMETER:
    case RDAX_E_NULL_ARGUMENT:
      return RDAX_DEVICE_USER_ERROR;
    case RDAX_E_BUSY:
      return RDAX_DEVICE_BUSY;
    case RDAX_F_READER_DOWN:
      return RDAX_DEVICE_NO_DEVICE;
    case RDAX_F_NOT_CONNECTED:
      return RDAX_DEVICE_OFFLINE;
    case RDAX_F_READER_HARDWARE:
      return RDAX_DEVICE_POWER_OFF;
    case RDAX_E_NO_DEVICE:
    case RDAX_E_COMMUNICATION:
    case 0x84010000u:
    case 0x84010002u:
    case 0x84010005u:
    case 0x84010007u:
    case 0x84010008u:
    case 0x84010009u:
      return RDAX_DEVICE_HARDWARE_ERROR;
    default:
      return RDAX_DEVICE_ONLINE;
  }
}

}  // namespace q7m::rdax
