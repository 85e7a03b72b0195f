// The HID device search through the exports and the open, against several
// emulated readers on the test process's virtual HID bus: the default
// vendors, filters in the device name and in PDLNK.INI, selection by
// serial number, and a reader held exclusively by another process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "q7m/pdlnk.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "sim_reader.h"  // EnterFreshWorkingDirectory
#include "usb_sim.h"

namespace {

using Reader = q7mtest::UsbSim::Reader;

Reader Usb(const std::string& name, const std::string& vendor, int product) {
  return {name,
          {"--set", "VendorId=" + vendor, "--set", "ProductId=" + std::to_string(product), "--set",
           "UsbSerial=SN-" + name}};
}

// Serial numbers of every reader a full listing gives.
std::vector<std::string> ListAll() {
  std::vector<std::string> serials;
  PDLNK_FIND_INFO info;
  uint32_t r = PDLNK_FindFirst(&info, sizeof info);
  while (r == PDLNK_SUCCESS) {
    EXPECT_EQ(info.recordSize, sizeof info);
    EXPECT_NE(info.searchHandle, nullptr);
    serials.emplace_back(info.serialNumber);
    r = PDLNK_FindNext(&info);
  }
  EXPECT_TRUE(r == PDLNK_NO_MORE_DEVICES || (serials.empty() && r == PDLNK_DEVICE_NOT_FOUND)) << r;
  EXPECT_EQ(info.searchHandle, nullptr) << "a failed step ends the search";
  EXPECT_EQ(PDLNK_FindNext(&info), PDLNK_INVALID_HANDLE);
  return serials;
}

// The serial number of the reader an open of `name` gets, or the failure.
std::string Opened(const std::string& name) {
  int handle = -1;
  const uint32_t r = PDLNK_Open(&handle, name.c_str(), 1);
  if (r != PDLNK_SUCCESS) return "error " + std::to_string(r);
  PDLNK_DEVICE_INFO info;
  std::string serial = "?";
  if (PDLNK_GetDeviceInfo(handle, &info, sizeof info) == PDLNK_SUCCESS) serial = info.serialNumber;
  PDLNK_Close(handle);
  return serial;
}

class UsbSearchTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = q7mtest::EnterFreshWorkingDirectory(); }
  std::string dir_;
  q7mtest::UsbSim sim_;
};

TEST_F(UsbSearchTest, WithoutAFilterOnlyTheDefaultVendorsAreListed) {
  ASSERT_TRUE(sim_.Start({Usb("a", "0x0590", 52), Usb("b", "0x1234", 52), Usb("c", "0x04A4", 17)}));
  EXPECT_EQ(ListAll(), (std::vector<std::string>{"SN-a", "SN-c"}));
  EXPECT_EQ(Opened("USB:"), "SN-a");
}

TEST_F(UsbSearchTest, ListingRecordsAndTheirSearch) {
  ASSERT_TRUE(sim_.Start({Usb("a", "0x0590", 52)}));
  PDLNK_FIND_INFO info;
  EXPECT_EQ(PDLNK_FindFirst(&info, 32), PDLNK_WRONG_RECORD_SIZE);
  ASSERT_EQ(PDLNK_FindFirst(&info, sizeof info), PDLNK_SUCCESS);
  EXPECT_STREQ(info.manufacturer, "Q7M");
  EXPECT_STREQ(info.product, "Q7M card reader (emulated)");
  EXPECT_EQ(info.vendorId, 0x0590);
  EXPECT_EQ(info.productId, 52);
  EXPECT_EQ(info.versionNumber, 0x0100);
  EXPECT_EQ(info.maxSendLength, 2062u);
  EXPECT_EQ(info.maxReceiveLength, 2062u);
  // A copy of the record outlives its search: it is refused, not followed.
  PDLNK_FIND_INFO copy = info;
  PDLNK_FindClose(&info);
  EXPECT_EQ(info.searchHandle, nullptr);
  EXPECT_EQ(PDLNK_FindNext(&copy), PDLNK_INVALID_HANDLE);
  PDLNK_FindClose(&copy);
  PDLNK_FindClose(&info);
}

TEST_F(UsbSearchTest, FiltersInTheDeviceName) {
  ASSERT_TRUE(sim_.Start({Usb("a", "0x0590", 0x11), Usb("b", "0x0590", 52), Usb("c", "0x04A4", 17),
                          Usb("d", "0x1234", 17)}));
  // That vendor and product only.
  EXPECT_EQ(Opened("USB:,0x0590.0x0011"), "SN-a");
  EXPECT_EQ(Opened("USB:SN-c,0x0590.0x0011"), "error 8");
  // Every product of vendor 1424 (0x0590), no other vendor's.
  EXPECT_EQ(Opened("USB:SN-b,1424."), "SN-b");
  EXPECT_EQ(Opened("USB:SN-c,1424."), "error 8");
  // Product 17 of either default vendor (0x11 is 17), never of another.
  EXPECT_EQ(Opened("USB:,17"), "SN-a");
  EXPECT_EQ(Opened("USB:SN-c,17"), "SN-c");
  EXPECT_EQ(Opened("USB:SN-d,17"), "error 8");
  EXPECT_EQ(Opened("USB:SN-d,0x1234."), "SN-d");
  // The execution service's default: any reader of products 52 and 83.
  EXPECT_EQ(Opened("USB:,52 83 "), "SN-b");
  EXPECT_EQ(Opened("USB:SN-zz"), "error 8");
  EXPECT_EQ(Opened("SN-c"), "SN-c");  // a name without a colon is the selector
}

TEST_F(UsbSearchTest, FilterFromTheIniFile) {
  ASSERT_TRUE(sim_.Start({Usb("five", "0x0590", 5), Usb("seven", "0x0590", 7)}));
  // Parsing stops at the token x: product 5 only.
  q7mtest::WriteFile(dir_ + "/PDLNK.INI", "[USB]\nProductID=5,x,7\n");
  EXPECT_EQ(ListAll(), (std::vector<std::string>{"SN-five"}));
  EXPECT_EQ(Opened("USB:SN-seven"), "error 8");
  // A filter in the name replaces the file's.
  EXPECT_EQ(Opened("USB:SN-seven,7"), "SN-seven");
  q7mtest::WriteFile(dir_ + "/PDLNK.INI", "[USB]\nProductID=7, 5\n");
  EXPECT_EQ(ListAll(), (std::vector<std::string>{"SN-five", "SN-seven"}));
}

Q7M_CHILD(HoldExclusively) {
  int handle = -1;
  if (PDLNK_Open(&handle, args.at(0).c_str(), 0) != PDLNK_SUCCESS) return 3;
  q7mtest::Say("held");
  std::string line;
  q7mtest::Hear(&line);
  PDLNK_Close(handle);
  return 0;
}

TEST_F(UsbSearchTest, AReaderHeldExclusivelyIsTriedTwentyTimesThenPassedOver) {
  ASSERT_TRUE(sim_.Start({Usb("a", "0x0590", 52), Usb("b", "0x0590", 52)}));
  q7mtest::ChildProcess holder;
  ASSERT_TRUE(holder.Start("HoldExclusively", {"USB:SN-a"}));
  ASSERT_TRUE(holder.Expect("held"));
  const long refusedBefore = sim_.Counter("a", "OpensRefused");
  EXPECT_EQ(ListAll(), (std::vector<std::string>{"SN-b"}));
  EXPECT_EQ(sim_.Counter("a", "OpensRefused") - refusedBefore, 20);
  EXPECT_EQ(Opened("USB:"), "SN-b");
  holder.WriteLine("done");
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(ListAll(), (std::vector<std::string>{"SN-a", "SN-b"}));
}

TEST_F(UsbSearchTest, BusyRefusalsAreRetried) {
  ASSERT_TRUE(sim_.Start({Usb("a", "0x0590", 52)}));
  // A few refusals: the search's probes try again and get through.
  sim_.Control("fault a busy count=4");
  EXPECT_EQ(Opened("USB:"), "SN-a");
  EXPECT_EQ(sim_.Counter("a", "OpensRefused"), 4);
  // More than the search's 20 attempts: no reader.
  sim_.Control("fault a busy count=40");
  int handle = -1;
  EXPECT_EQ(PDLNK_Open(&handle, "USB:", 1), PDLNK_DEVICE_NOT_FOUND);
  EXPECT_EQ(sim_.Counter("a", "OpensRefused"), 24);
}

}  // namespace
