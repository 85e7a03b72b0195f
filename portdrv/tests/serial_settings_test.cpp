// A serial port's settings as PDLNK.INI gives them. Linked into the test
// program, the reader of the settings finds the program's own INI file.
#include <gtest/gtest.h>

#include <string>

#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "serial_settings.h"
#include "sim_reader.h"

namespace {

class SerialSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { q7mtest::EnterFreshWorkingDirectory(); }

  void WriteIni(const std::string& text) {
    char base[256];
    ASSERT_GT(Q7M_GetModuleBaseName(nullptr, base, sizeof base), 0u);
    q7mtest::WriteFile(std::string(base) + ".INI", text);
  }
};

TEST_F(SerialSettingsTest, DefaultsWithoutAnIniFile) {
  const q7m::SerialSettings s = q7m::ReadSerialSettings(nullptr, "COM2", false, 0);
  EXPECT_TRUE(s.checkDsr);
  EXPECT_EQ(s.timings.receiveAckTimeout, 5000u);
  EXPECT_EQ(s.timings.enqInterval, 5000u);
  EXPECT_EQ(s.timings.eotInterval, 5000u);
  EXPECT_EQ(s.timings.charInterval, 1000u);
  EXPECT_EQ(s.baudRate, 38400);
  EXPECT_EQ(s.devicePath, "/dev/ttyS1");
}

TEST_F(SerialSettingsTest, EveryKeyByItsLiteralNameFromThePortsSection) {
  WriteIni(
      "[COM3]\nDSR=ON\nReceiveAckTimeout=1\nSendENQInvervalTime=1\nSendEOTInvervalTime=1\n"
      "CharInvervalTimeout=1\nBaudRate=1200\nDevicePath=/dev/wrong\n"
      "[COM2]\nDSR=off\nReceiveAckTimeout=0x100\nSendENQInvervalTime=250\n"
      "SendEOTInvervalTime=0xFFFFFFFF\nCharInvervalTimeout=20\nBaudRate=9600\n"
      "DevicePath=/dev/ttyUSB0\n");
  const q7m::SerialSettings s = q7m::ReadSerialSettings(nullptr, "COM2", false, 0);
  EXPECT_FALSE(s.checkDsr);
  EXPECT_EQ(s.timings.receiveAckTimeout, 0x100u);
  EXPECT_EQ(s.timings.enqInterval, 250u);
  // All ones, the port's "no limit"; not 0, which would repeat at once.
  EXPECT_EQ(s.timings.eotInterval, 0xFFFFFFFFu);
  EXPECT_EQ(s.timings.charInterval, 20u);
  EXPECT_EQ(s.baudRate, 9600);
  EXPECT_EQ(s.devicePath, "/dev/ttyUSB0");
}

TEST_F(SerialSettingsTest, OnlyOffSwitchesTheDsrWatchOff) {
  for (const char* value : {"OFF", "Off", "off"}) {
    WriteIni(std::string("[COM2]\nDSR=") + value + "\n");
    EXPECT_FALSE(q7m::ReadSerialSettings(nullptr, "COM2", false, 0).checkDsr) << value;
  }
  for (const char* value : {"ON", "no", "0", "OFFLINE", ""}) {
    WriteIni(std::string("[COM2]\nDSR=") + value + "\n");
    EXPECT_TRUE(q7m::ReadSerialSettings(nullptr, "COM2", false, 0).checkDsr) << value;
  }
}

TEST_F(SerialSettingsTest, BaudRateOfTheNameWinsAndZeroKeepsTheDefault) {
  WriteIni("[COM2]\nBaudRate=19200\n");
  EXPECT_EQ(q7m::ReadSerialSettings(nullptr, "COM2", true, 9600).baudRate, 9600);
  EXPECT_EQ(q7m::ReadSerialSettings(nullptr, "COM2", false, 0).baudRate, 19200);
  WriteIni("[COM2]\nBaudRate=0\n");
  EXPECT_EQ(q7m::ReadSerialSettings(nullptr, "COM2", false, 0).baudRate, 38400);
}

TEST_F(SerialSettingsTest, PortNameWithoutANodeOfItsOwn) {
  // Opened as it is named, the way the system opens a port name it does
  // not map.
  EXPECT_EQ(q7m::ReadSerialSettings(nullptr, "MOC", false, 0).devicePath, "MOC");
  EXPECT_EQ(q7m::ReadSerialSettings(nullptr, "COM12", false, 0).devicePath, "/dev/ttyS11");
}

}  // namespace
