// Device information, status and the LED through the API on an emulated
// reader, on both links: the commands on the wire, the records filled from
// the replies, the device-status rules of a failed status query, and replies
// cut short.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "rdax_sim_fixture.h"

namespace rdaxsim {
namespace {

class DeviceInfoOnSim : public RdaxOnSim {
 protected:
  void Set(const std::string& field, const std::string& value) {
    sim_.Control({"set", reader(), field, value});
  }
  // The next command with this code gets exactly `bytes` as its reply.
  void Reply(const std::string& code, const std::string& bytes) {
    sim_.Control({"fault", reader(), "reply", "data=" + Hex(bytes), "cmd=" + code});
  }
};

TEST_P(DeviceInfoOnSim, StatusAsksC10C11AndCN0AndReportsTheCardSlot) {
  Set("CardPosition", "gate");
  Set("SamSlots", "10100");
  RDAX_STATUS status;
  std::memset(&status, 0xEE, sizeof status);
  ASSERT_EQ(RDAX_GetStatus(handle_, &status, nullptr), RDAX_OK);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"C10", "C11", "CN0"}));
  EXPECT_EQ(status.deviceStatus, RDAX_DEVICE_ONLINE);
  EXPECT_EQ(status.mediaStatus, 6);  // "C11" status "01": in the throat
  EXPECT_EQ(status.chipStatus, 5);
  EXPECT_EQ(status.binStatus, 2);
  EXPECT_EQ(status.securityStatus, 1);
  EXPECT_EQ(status.capturedCards, 0);
  EXPECT_EQ(status.extraSamChip, 1 | 4);

  // The same asynchronously, with the chip of a card inside powered.
  Set("CardPosition", "inside");
  Set("ChipContact", "powered");
  Event done;
  ASSERT_EQ(RDAX_GetStatus(handle_, &status, done.get()), 0x00000001u);
  ASSERT_TRUE(done.Wait());
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
  EXPECT_EQ(status.mediaStatus, 1);
  EXPECT_EQ(status.chipStatus, 0);
}

TEST_P(DeviceInfoOnSim, ARefusedStatusQueryReportsTheDeviceStatusOfItsCode) {
  Set("DeviceError", "18");
  RDAX_STATUS status{};
  EXPECT_EQ(RDAX_GetStatus(handle_, &status, nullptr), 0xC3000002u);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"C10"}));
  EXPECT_EQ(status.deviceStatus, RDAX_DEVICE_POWER_OFF);
  EXPECT_EQ(status.chipStatus, 7);

  Set("DeviceError", "none");
  sim_.Control({"fault", reader(), "error", "code=05", "cmd=N0"});
  EXPECT_EQ(RDAX_GetStatus(handle_, &status, nullptr), 0x84000005u);
  EXPECT_EQ(status.deviceStatus, RDAX_DEVICE_HARDWARE_ERROR);
  EXPECT_EQ(status.chipStatus, 4);
}

TEST_P(DeviceInfoOnSim, AStatusQueryOfAReaderThatWentAwayReportsItOffline) {
  if (GetParam() == Link::kSerial) GTEST_SKIP() << "a pseudo-terminal cannot be unplugged";
  sim_.Control({"fault", reader(), "unplug-on-command", "ms=300"});
  RDAX_STATUS status{};
  EXPECT_EQ(RDAX_GetStatus(handle_, &status, nullptr), RDAX_F_NOT_CONNECTED);
  EXPECT_EQ(status.deviceStatus, RDAX_DEVICE_OFFLINE);
  EXPECT_EQ(status.chipStatus, 7);
}

TEST_P(DeviceInfoOnSim, CapabilitiesAddTheReadersAnswersToThePresets) {
  Set("Tracks", "13");
  Set("Contactless", "5");
  Set("SamSupport", "2");
  RDAX_CAPABILITIES caps;
  std::memset(&caps, 0xEE, sizeof caps);
  ASSERT_EQ(RDAX_GetCapabilities(handle_, &caps, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CN0");
  EXPECT_EQ(caps.type, 3);
  EXPECT_EQ(caps.readTracks, RDAX_TRACK_1 | RDAX_TRACK_3);
  EXPECT_EQ(caps.chipProtocols, 3);
  EXPECT_EQ(caps.chipPower, 14);
  EXPECT_EQ(caps.readWriteAfterEject, 1u);
  EXPECT_EQ(caps.extraSam, 1u);
  EXPECT_EQ(caps.extraContactless, 2 | 8);
  Set("Contactless", "0");
  ASSERT_EQ(RDAX_GetCapabilities(handle_, &caps, nullptr), RDAX_OK);
  EXPECT_EQ(caps.extraContactless, 1);
}

TEST_P(DeviceInfoOnSim, IdentityVersionsSensorsAndCountersComeFromTheirOffsets) {
  Set("SerialNumber", "123456");
  Set("Model", "Q7M-LAB-READER");
  Set("FirmwareVersion", "FW-MAIN,12,0BADCAFE");
  Set("MaskVersion", "MASK-A,03,00ABCD");
  Set("Sensors", "11,22,33,44");
  char serial[RDAX_SERIAL_NUMBER_SIZE];
  char model[RDAX_MODEL_NUMBER_SIZE];
  ASSERT_EQ(RDAX_GetSerialNumber(handle_, serial, nullptr), RDAX_OK);
  EXPECT_STREQ(serial, "123456");
  ASSERT_EQ(RDAX_GetModelNumber(handle_, model, nullptr), RDAX_OK);
  EXPECT_STREQ(model, "Q7M-LAB-READER      ");
  EXPECT_EQ(LastCommand(), "CUE");

  RDAX_VERSION version{};
  ASSERT_EQ(RDAX_GetVersion(handle_, RDAX_VERSION_FIRMWARE, &version, nullptr), RDAX_OK);
  EXPECT_STREQ(version.type, "FW-MAIN     ");
  EXPECT_STREQ(version.revision, "12");
  EXPECT_EQ(version.sum, 0x0BADCAFEu);
  ASSERT_EQ(RDAX_GetVersion(handle_, RDAX_VERSION_MASK, &version, nullptr), RDAX_OK);
  EXPECT_STREQ(version.type, "MASK-A      ");
  EXPECT_EQ(version.sum, 0xABCDu);
  ASSERT_EQ(RDAX_GetVersion(handle_, RDAX_VERSION_SAM_FIRMWARE, &version, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CV2");
  EXPECT_EQ(RDAX_GetVersion(handle_, 5, &version, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(LastCommand(), "CV2");

  uint32_t levels[4] = {};
  ASSERT_EQ(RDAX_GetSensorLevel(handle_, levels, nullptr), RDAX_OK);
  EXPECT_EQ(levels[0], 11u);
  EXPECT_EQ(levels[3], 44u);

  std::string counters;
  for (int i = 1; i <= 20; ++i) counters += (i > 1 ? "," : "") + std::to_string(1000 + i);
  Set("Counters", counters);
  uint32_t action[4] = {};
  uint32_t errors[16] = {};
  ASSERT_EQ(RDAX_GetActionCount(handle_, action, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CM0");
  EXPECT_EQ(action[0], 1001u);
  EXPECT_EQ(action[1], 1002u);
  EXPECT_EQ(action[2], 1003u);
  EXPECT_EQ(action[3], 1008u);
  ASSERT_EQ(RDAX_GetErrorCount(handle_, errors, nullptr), RDAX_OK);
  EXPECT_EQ(errors[0], 1004u);
  EXPECT_EQ(errors[3], 1007u);
  EXPECT_EQ(errors[4], 1009u);
  EXPECT_EQ(errors[15], 1020u);
}

TEST_P(DeviceInfoOnSim, StandardsAreSentAsTwoDigitsAndUnknownReadsMinusOne) {
  ASSERT_EQ(RDAX_SetICCStandardType(handle_, RDAX_SET_ICSTD_EMV, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CY605");
  ASSERT_EQ(RDAX_SetSAMStandardType(handle_, RDAX_SET_ICSTD_SPECIAL01, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CY704");
  int32_t standard = 0;
  ASSERT_EQ(RDAX_GetICCStandardType(handle_, &standard, nullptr), RDAX_OK);
  EXPECT_EQ(standard, 5);
  ASSERT_EQ(RDAX_GetSAMStandardType(handle_, &standard, nullptr), RDAX_OK);
  EXPECT_EQ(standard, 4);
  Set("IccStandard", "??");
  ASSERT_EQ(RDAX_GetICCStandardType(handle_, &standard, nullptr), RDAX_OK);
  EXPECT_EQ(standard, RDAX_ICSTD_UNKNOWN);

  EXPECT_EQ(RDAX_SetICCStandardType(handle_, 3, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);
  EXPECT_EQ(LastCommand(), "CY0");
}

TEST_P(DeviceInfoOnSim, LedCommandsCarryTheReadersDigits) {
  ASSERT_EQ(RDAX_BlinkLED(handle_, RDAX_SET_LED_ORANGE, RDAX_SET_LED_BLINK4HZ, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CP835");
  ASSERT_EQ(RDAX_BlinkLED(handle_, RDAX_SET_LED_GREEN, RDAX_SET_LED_BLINK1_4HZ, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CP811");
  ASSERT_EQ(RDAX_TurnonLED(handle_, RDAX_SET_LED_RED, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CP72");
  ASSERT_EQ(RDAX_TurnoffLED(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CP6");
  ASSERT_EQ(RDAX_SetLEDControlMode(handle_, RDAX_SET_LED_MANUAL, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CN30");

  EXPECT_EQ(RDAX_TurnonLED(handle_, 4, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_BlinkLED(handle_, 1, 5, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_SetLEDControlMode(handle_, 2, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(LastCommand(), "CN30");
  EXPECT_EQ(RDAX_TurnonLED(handle_, 1, nullptr), RDAX_OK);
  EXPECT_NE(sim_.Control({"get", reader(), "Led"}).find("on colour=1"), std::string::npos);
}

TEST_P(DeviceInfoOnSim, RepliesCutShortAreFaultyAndNeverReadPastTheirEnd) {
  uint32_t levels[4] = {7, 7, 7, 7};
  Reply("L0", "PL00012");
  EXPECT_EQ(RDAX_GetSensorLevel(handle_, levels, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(levels[0], 12u);
  EXPECT_EQ(levels[1], 0u);

  char serial[RDAX_SERIAL_NUMBER_SIZE] = "xxxxxx";
  Reply("UE", "PUE00Q7M");
  EXPECT_EQ(RDAX_GetSerialNumber(handle_, serial, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_STREQ(serial, "");
  char model[RDAX_MODEL_NUMBER_SIZE];
  Reply("UE", "PUE00Q7M");
  EXPECT_EQ(RDAX_GetModelNumber(handle_, model, nullptr), RDAX_E_FAULTY_REPLY);

  RDAX_VERSION version{};
  Reply("V0", "PV000MASK-A      03");
  EXPECT_EQ(RDAX_GetVersion(handle_, RDAX_VERSION_MASK, &version, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_STREQ(version.type, "MASK-A      ");
  EXPECT_STREQ(version.revision, "03");
  EXPECT_EQ(version.sum, 0u);

  uint32_t counters[16];
  Reply("M0", "PM000" + std::string(40, '1'));
  EXPECT_EQ(RDAX_GetErrorCount(handle_, counters, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(counters[0], 11111111u);  // offset 29 arrived
  EXPECT_EQ(counters[4], 0u);         // offset 69 did not
  Reply("M0", "PM000");
  EXPECT_EQ(RDAX_GetActionCount(handle_, counters, nullptr), RDAX_E_FAULTY_REPLY);

  int32_t standard = 9;
  Reply("Y0", "PY0000");
  EXPECT_EQ(RDAX_GetICCStandardType(handle_, &standard, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(standard, RDAX_ICSTD_UNKNOWN);
  Reply("Y0", "PY000050000");
  EXPECT_EQ(RDAX_GetSAMStandardType(handle_, &standard, nullptr), RDAX_E_FAULTY_REPLY);

  RDAX_CAPABILITIES caps{};
  Reply("N0", "PN0000001");
  EXPECT_EQ(RDAX_GetCapabilities(handle_, &caps, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(caps.readTracks, RDAX_TRACK_1);
  EXPECT_EQ(caps.type, 3);

  RDAX_STATUS status{};
  Reply("11", "P11");
  EXPECT_EQ(RDAX_GetStatus(handle_, &status, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(status.mediaStatus, 0);
  EXPECT_EQ(status.chipStatus, 7);
}

INSTANTIATE_TEST_SUITE_P(Links, DeviceInfoOnSim, ::testing::Values(Link::kSerial, Link::kUsb),
                         LinkName);

}  // namespace
}  // namespace rdaxsim
