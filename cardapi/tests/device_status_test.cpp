// The device status a failed status query reports, from the reader's
// refusal code and from the result of an exchange that failed.
#include <gtest/gtest.h>

#include "device_status.h"
#include "q7m/rdax.h"

using namespace q7m::rdax;

namespace {

uint16_t FromCode(const char code[3]) {
  return DeviceStatusFromCode(code[0], code[1]);
}

TEST(DeviceStatusTables, RefusalCodesNameUserErrorsHardwareErrorsAndPowerOff) {
  for (const char* code : {"01", "02", "03", "04", "20", "21", "34", "35"})
    EXPECT_EQ(FromCode(code), RDAX_DEVICE_USER_ERROR) << code;
  for (const char* code : {"05", "06", "07", "08", "09", "0A", "0B", "10", "11", "14", "15",
                           "16", "19", "70", "71", "72", "81", "88", "1Y", "1Z", "1H", "1J"})
    EXPECT_EQ(FromCode(code), RDAX_DEVICE_HARDWARE_ERROR) << code;
  EXPECT_EQ(FromCode("18"), RDAX_DEVICE_POWER_OFF);
  for (const char* code : {"00", "0C", "12", "17", "22", "46", "A0", "J1", "1X", "??"})
    EXPECT_EQ(FromCode(code), RDAX_DEVICE_ONLINE) << code;
}

TEST(DeviceStatusTables, FailedExchangesNameWhatWentWrong) {
  EXPECT_EQ(DeviceStatusFromResult(RDAX_E_PARAMETER), RDAX_DEVICE_USER_ERROR);
  EXPECT_EQ(DeviceStatusFromResult(RDAX_E_NULL_ARGUMENT), RDAX_DEVICE_USER_ERROR);
  EXPECT_EQ(DeviceStatusFromResult(RDAX_E_BUSY), RDAX_DEVICE_BUSY);
  EXPECT_EQ(DeviceStatusFromResult(RDAX_F_READER_DOWN), RDAX_DEVICE_NO_DEVICE);
  EXPECT_EQ(DeviceStatusFromResult(RDAX_F_NOT_CONNECTED), RDAX_DEVICE_OFFLINE);
  EXPECT_EQ(DeviceStatusFromResult(RDAX_F_READER_HARDWARE), RDAX_DEVICE_POWER_OFF);
  for (uint32_t r : {RDAX_E_NO_DEVICE, RDAX_E_COMMUNICATION, 0x84010000u, 0x84010002u, 0x84010005u,
                     0x84010007u, 0x84010008u, 0x84010009u})
    EXPECT_EQ(DeviceStatusFromResult(r), RDAX_DEVICE_HARDWARE_ERROR) << std::hex << r;
  for (uint32_t r : {RDAX_W_CANCELLED, RDAX_F_SYSTEM, RDAX_F_LINE, 0x84010001u, 0x84030001u})
    EXPECT_EQ(DeviceStatusFromResult(r), RDAX_DEVICE_ONLINE) << std::hex << r;
}

}  // namespace
