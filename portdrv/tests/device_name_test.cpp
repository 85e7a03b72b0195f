#include <gtest/gtest.h>

#include "device_name.h"

namespace q7m {
namespace {

TEST(DeviceName, LeadingLettersOfComChooseTheSerialTransport) {
  for (const char* name : {"COM1", "COM3:19200", "M", "OC", "C", "MOCx"})
    EXPECT_EQ(ChooseTransport(name), TransportKind::kSerial) << name;
  for (const char* name : {"USB:", "USB:1234", "", "xCOM1", "com1", "1234"})
    EXPECT_EQ(ChooseTransport(name), TransportKind::kHid) << name;
  EXPECT_EQ(ChooseTransport(nullptr), TransportKind::kHid);
}

TEST(DeviceName, BaudRateOnlyWhenGivenAndNotZero) {
  SerialName plain = ParseSerialName("COM2");
  EXPECT_EQ(plain.portName, "COM2");
  EXPECT_FALSE(plain.baudGiven);
  EXPECT_EQ(plain.baudRate, 38400);

  SerialName given = ParseSerialName("COM2:9600");
  EXPECT_EQ(given.portName, "COM2");
  EXPECT_TRUE(given.baudGiven);
  EXPECT_EQ(given.baudRate, 9600);

  for (const char* name : {"COM2:", "COM2:0", "COM2:abc"}) {
    SerialName n = ParseSerialName(name);
    EXPECT_EQ(n.portName, "COM2") << name;
    EXPECT_FALSE(n.baudGiven) << name;
    EXPECT_EQ(n.baudRate, 38400) << name;
  }
  // Leading digits count, as the C library reads them.
  EXPECT_EQ(ParseSerialName("COM2:19200x").baudRate, 19200);
  // Out of range must not be undefined: it is simply an impossible rate.
  SerialName huge = ParseSerialName("COM2:99999999999999999999");
  EXPECT_TRUE(huge.baudGiven);
  EXPECT_EQ(huge.baudRate, -1);
}

TEST(DeviceName, DefaultNodeOfAPortName) {
  EXPECT_EQ(DefaultSerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DefaultSerialDevicePath("COM12"), "/dev/ttyS11");
  for (const char* name : {"COM0", "COM", "COMx", "M", "COM1234567", "COM-1"})
    EXPECT_EQ(DefaultSerialDevicePath(name), "") << name;
}

}  // namespace
}  // namespace q7m
