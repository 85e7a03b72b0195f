// The provider against q7m-sim on the test process's virtual HID bus: the
// listing, the identity, the sharing rules, report I/O and removal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "q7m/hid_provider.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "usb_sim.h"

namespace {

using q7mtest::UsbSim;

constexpr uint32_t kReadWrite = Q7MHID_GENERIC_READ | Q7MHID_GENERIC_WRITE;
constexpr uint32_t kShareAll = Q7MHID_FILE_SHARE_READ | Q7MHID_FILE_SHARE_WRITE;

std::vector<std::string> ListedPaths() {
  Q7MHID_GUID hid;
  HidD_GetHidGuid(&hid);
  HDEVINFO list =
      SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  EXPECT_NE(list, Q7MHID_INVALID_DEVINFO);
  std::vector<std::string> paths;
  for (uint32_t index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hid, index, &data)) {
      EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_NO_MORE_ITEMS);
      break;
    }
    uint32_t required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INSUFFICIENT_BUFFER);
    std::vector<uint8_t> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = Q7MHID_DETAIL_SIZE_FIELD;
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
    paths.emplace_back(reinterpret_cast<const char*>(buffer.data()) +
                       offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
  }
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  return paths;
}

std::string SerialOf(int device) {
  char16_t text[256];
  if (!HidD_GetSerialNumberString(device, text, sizeof text)) return "<failed>";
  std::string narrow;
  for (const char16_t* p = text; *p != 0; ++p) narrow.push_back(static_cast<char>(*p));
  return narrow;
}

// Opens for reports, trying again (bounded) while the device still counts
// an exclusive holder that has just closed: the device learns of the close
// in its own time.
int OpenWhenFree(const std::string& path, uint32_t shareMode) {
  for (int attempt = 0;; ++attempt) {
    const int fd = Q7MHID_OpenDevice(path.c_str(), kReadWrite, shareMode);
    if (fd >= 0 || Q7M_GetLastError() != Q7M_ERROR_SHARING_VIOLATION || attempt == 400) return fd;
    ::usleep(50 * 1000);
  }
}

bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

TEST(ProviderBus, ListsTheDeviceSocketsInNameOrderAndNothingElse) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start({{"beta", {}}, {"alpha", {}}}));
  const std::string dir = q7mtest::BusDirectory();
  // Things in the bus directory that are no devices.
  q7mtest::WriteFile(dir + "/file.hid", "not a socket");
  q7mtest::WriteFile(dir + "/notes.txt", "");
  ASSERT_EQ(::mkdir((dir + "/dir.hid").c_str(), 0700), 0);
  const int s = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/.hidden.hid", dir.c_str());
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  EXPECT_EQ(ListedPaths(), (std::vector<std::string>{sim.PathOf("alpha"), sim.PathOf("beta")}));
  ::close(s);
}

TEST(ProviderBus, NoBusDirectoryMeansNoDevices) {
  setenv("Q7M_HIDBUS_DIR", (q7mtest::ScratchDir() + "/absent").c_str(), 1);
  EXPECT_TRUE(ListedPaths().empty());
}

TEST(ProviderBus, ListHandlesAreCheckedAndDetailsSized) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start());
  Q7MHID_GUID hid;
  HidD_GetHidGuid(&hid);
  EXPECT_EQ(SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT), Q7MHID_INVALID_DEVINFO);
  HDEVINFO list =
      SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = 28;  // not this platform's record size
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &hid, 0, &data));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &hid, 0, &data));
  const std::string path = sim.PathOf("r1");
  uint32_t required = 0;
  std::vector<uint8_t> buffer(512);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
  detail->cbSize = Q7MHID_DETAIL_SIZE_FIELD;
  // One byte short of the path's terminator.
  const uint32_t exact = static_cast<uint32_t>(
      offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  EXPECT_FALSE(
      SetupDiGetDeviceInterfaceDetailA(list, &data, detail, exact - 1, &required, nullptr));
  EXPECT_EQ(required, exact);
  detail->cbSize = 5;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, exact, nullptr, nullptr));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  // A destroyed list is refused, not followed.
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &hid, 0, &data));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));
}

TEST(ProviderBus, IdentityOfAProbedDevice) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start("r1", {"--set", "VendorId=0x04A4", "--set", "ProductId=83", "--set",
                               "VersionNumber=0x0213", "--set", "UsbSerial=SN-7", "--set",
                               "InputReportLength=372", "--set", "OutputReportLength=140"}));
  const int device = Q7MHID_OpenDevice(sim.PathOf("r1").c_str(), 0, kShareAll);
  ASSERT_GE(device, 0) << Q7M_GetLastError();
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  ASSERT_TRUE(HidD_GetAttributes(device, &attributes));
  EXPECT_EQ(attributes.VendorID, 0x04A4);
  EXPECT_EQ(attributes.ProductID, 83);
  EXPECT_EQ(attributes.VersionNumber, 0x0213);
  EXPECT_EQ(SerialOf(device), "SN-7");
  char16_t product[8];
  ASSERT_TRUE(HidD_GetProductString(device, product, sizeof product));
  EXPECT_EQ(std::u16string(product), u"Q7M car");  // cut to the buffer
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(device, &preparsed));
  HIDP_CAPS caps{};
  EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.InputReportByteLength, 372);
  EXPECT_EQ(caps.OutputReportByteLength, 140);
  EXPECT_EQ(caps.UsagePage, 0xFF00);
  EXPECT_TRUE(HidD_FreePreparsedData(preparsed));
  EXPECT_EQ(HidP_GetCaps(nullptr, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_FALSE(HidD_GetIndexedString(device, 1, product, sizeof product));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_NOT_SUPPORTED);
  // A probe takes no reports: the device counts it as a connection only.
  EXPECT_EQ(sim.Counter("r1", "ReportConnections"), 0);
  EXPECT_TRUE(Q7MHID_CloseDevice(device));
}

TEST(ProviderBus, SharingRulesOfReportOpens) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start());
  const std::string path = sim.PathOf("r1");
  const int exclusive = Q7MHID_OpenDevice(path.c_str(), kReadWrite, Q7MHID_FILE_SHARE_READ);
  ASSERT_GE(exclusive, 0);
  // While it is held alone, every open is refused, probes included.
  for (uint32_t access : {kReadWrite, 0u}) {
    EXPECT_EQ(Q7MHID_OpenDevice(path.c_str(), access, kShareAll), -1);
    EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SHARING_VIOLATION);
  }
  EXPECT_TRUE(Q7MHID_CloseDevice(exclusive));

  const int first = OpenWhenFree(path, kShareAll);
  const int second = Q7MHID_OpenDevice(path.c_str(), kReadWrite, kShareAll);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  EXPECT_EQ(Q7MHID_OpenDevice(path.c_str(), kReadWrite, Q7MHID_FILE_SHARE_READ), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SHARING_VIOLATION);
  Q7MHID_CloseDevice(first);
  Q7MHID_CloseDevice(second);
}

TEST(ProviderBus, OpensThatFindNoDevice) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start("r1", {"--fault", "busy count=1"}));
  EXPECT_EQ(Q7MHID_OpenDevice(sim.PathOf("r1").c_str(), 0, kShareAll), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SHARING_VIOLATION);
  const std::string dir = q7mtest::BusDirectory();
  EXPECT_EQ(Q7MHID_OpenDevice((dir + "/none.hid").c_str(), 0, kShareAll), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  q7mtest::WriteFile(dir + "/plain.hid", "");
  EXPECT_EQ(Q7MHID_OpenDevice((dir + "/plain.hid").c_str(), 0, kShareAll), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Q7MHID_OpenDevice(nullptr, 0, kShareAll), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  // A device killed without cleaning up leaves a socket that refuses.
  const std::string path = sim.PathOf("r1");
  sim.Kill();
  EXPECT_EQ(Q7MHID_OpenDevice(path.c_str(), kReadWrite, kShareAll), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
}

TEST(ProviderBus, OneReportOutOneReportIn) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start());
  const int device = Q7MHID_OpenDevice(sim.PathOf("r1").c_str(), kReadWrite, kShareAll);
  ASSERT_GE(device, 0);
  std::vector<uint8_t> report(2068, 0);
  uint32_t count = 99;
  EXPECT_FALSE(Q7MHID_ReadReport(device, report.data(), 2068, &count));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_IO_PENDING);
  EXPECT_EQ(count, 0u);

  const uint8_t command[] = {2, 0, 3, 'C', '1', '0'};
  std::memcpy(report.data(), command, sizeof command);
  ASSERT_TRUE(Q7MHID_WriteReport(device, report.data(), 2068, &count));
  EXPECT_EQ(count, 2068u);
  ASSERT_TRUE(WaitReadable(device, 5000));
  // A short buffer gets the report cut.
  uint8_t head[8];
  ASSERT_TRUE(Q7MHID_ReadReport(device, head, sizeof head, &count));
  EXPECT_EQ(count, 8u);
  const uint8_t expected[] = {2, 0, 5, 'P', '1', '0', '0', '0'};
  EXPECT_EQ(std::memcmp(head, expected, 8), 0);
  EXPECT_TRUE(Q7MHID_CloseDevice(device));
}

TEST(ProviderBus, AGoneDeviceIsNotConnected) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start());
  const std::string path = sim.PathOf("r1");
  const int device = Q7MHID_OpenDevice(path.c_str(), kReadWrite, kShareAll);
  ASSERT_GE(device, 0);
  EXPECT_EQ(SerialOf(device), "Q7MSIM-r1");
  sim.Control("fault r1 unplug");
  ASSERT_TRUE(WaitReadable(device, 5000));  // the hang-up wakes readers
  uint8_t report[2068];
  uint32_t count = 0;
  EXPECT_FALSE(Q7MHID_ReadReport(device, report, sizeof report, &count));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(Q7MHID_WriteReport(device, report, sizeof report, &count));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(SerialOf(device), "<failed>");
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_DEVICE_NOT_CONNECTED);
  HIDD_ATTRIBUTES attributes{};
  EXPECT_FALSE(HidD_GetAttributes(device, &attributes));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(Q7MHID_OpenDevice(path.c_str(), 0, kShareAll), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);

  // After a replug the old connection stays dead; a new open works.
  sim.Control("fault r1 replug");
  EXPECT_EQ(SerialOf(device), "<failed>");
  const int again = Q7MHID_OpenDevice(path.c_str(), kReadWrite, kShareAll);
  ASSERT_GE(again, 0);
  EXPECT_EQ(SerialOf(again), "Q7MSIM-r1");
  Q7MHID_CloseDevice(again);
  Q7MHID_CloseDevice(device);
}

TEST(ProviderBus, ADescriptorTheProviderDidNotOpenIsLearnedByAProbe) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start("r1", {"--set", "UsbSerial=TAKEN"}));
  const int device = Q7MHID_OpenDevice(sim.PathOf("r1").c_str(), kReadWrite, kShareAll);
  ASSERT_GE(device, 0);
  // As for a descriptor taken over from another process: nothing known.
  Q7MHID_ReleaseDevice(device);
  EXPECT_EQ(SerialOf(device), "TAKEN");
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(device, &preparsed));
  HIDP_CAPS caps{};
  EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.OutputReportByteLength, 2068);
  HidD_FreePreparsedData(preparsed);
  // A descriptor number reused for another file is not taken for the old one.
  Q7MHID_CloseDevice(device);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  HIDD_ATTRIBUTES attributes{};
  EXPECT_FALSE(HidD_GetAttributes(pipeFds[0], &attributes));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  uint8_t byte;
  uint32_t count;
  EXPECT_FALSE(Q7MHID_ReadReport(pipeFds[0], &byte, 1, &count));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  EXPECT_FALSE(Q7MHID_CloseDevice(-1));
}

}  // namespace

namespace {

// The bus directory is where hosts find readers: one that is not ours (or
// root's) or that anyone may write to could hold a stranger's reader in
// place of ours, so nothing in it is listed or opened.
TEST(ProviderBus, ABusDirectoryOthersMayWriteToOrOwnIsNeitherListedNorOpened) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start("r1"));
  const std::string dir = q7mtest::BusDirectory();
  struct stat st;
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  ASSERT_EQ(ListedPaths().size(), 1u);

  ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
  EXPECT_TRUE(ListedPaths().empty());
  EXPECT_EQ(Q7MHID_OpenDevice(sim.PathOf("r1").c_str(), kReadWrite, kShareAll), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  ASSERT_EQ(::chmod(dir.c_str(), st.st_mode & 07777), 0);

  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(ListedPaths().empty());
    EXPECT_EQ(Q7MHID_OpenDevice(sim.PathOf("r1").c_str(), kReadWrite, kShareAll), -1);
    EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
    ASSERT_EQ(::chown(dir.c_str(), st.st_uid, st.st_gid), 0);
  }

  // Ours again: the reader is there as before.
  EXPECT_EQ(ListedPaths(), std::vector<std::string>{sim.PathOf("r1")});
  const int fd = Q7MHID_OpenDevice(sim.PathOf("r1").c_str(), kReadWrite, kShareAll);
  EXPECT_GE(fd, 0);
  if (fd >= 0) Q7MHID_CloseDevice(fd);
}

// A link under a device's name is never a device: neither listed nor
// connected through to what it points at.
TEST(ProviderBus, ALinkNamedLikeADeviceIsNeitherListedNorOpened) {
  UsbSim sim;
  ASSERT_TRUE(sim.Start("r1"));
  const std::string link = q7mtest::BusDirectory() + "/alias.hid";
  ASSERT_EQ(::symlink(sim.PathOf("r1").c_str(), link.c_str()), 0);
  EXPECT_EQ(ListedPaths(), std::vector<std::string>{sim.PathOf("r1")});
  EXPECT_EQ(Q7MHID_OpenDevice(link.c_str(), kReadWrite, kShareAll), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
}

}  // namespace
