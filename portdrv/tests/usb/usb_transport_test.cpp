// ComHID and clsFindHID driven directly: a provider that is missing or
// incomplete, the open's attempts on a busy reader, the encrypted forms
// while a session's crypto mode is on, and the trace lines of a USB
// exchange and of a search that passes a busy reader over.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cls_find_hid.h"
#include "com_hid.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "sim_reader.h"
#include "usb_sim.h"

namespace {

const char* const kNoProvider = "/nonexistent/libq7mhid.so";
// The provider of this build, by path: linked into this program, the port
// driver's code would look for it beside the program.
const char* const kProvider = Q7M_HID_PROVIDER;

TEST(HidProviderBinding, AMissingOrIncompleteProviderIsNotSupported) {
  for (const char* provider : {kNoProvider, Q7M_SETUP_ONLY_PROVIDER}) {
    SCOPED_TRACE(provider);
    q7m::clsFindHID search(true, provider);
    ASSERT_EQ(search.Create(), q7m::kPdOk);
    search.SetFilter(nullptr, nullptr);
    PDLNK_FIND_INFO record{};
    EXPECT_EQ(search.FindFirst(&record), q7m::kPdNotSupported);

    q7m::ComHID device(nullptr, provider);
    EXPECT_EQ(device.Open("USB:", true), q7m::kPdNotSupported);
    q7m::ComHID direct(nullptr, provider);
    EXPECT_EQ(direct.OpenDevice("/any/path", true), q7m::kPdNotSupported);
    EXPECT_EQ(direct.MakeResource("/any/path"), q7m::kPdNotSupported);
  }
  // The missing library and the missing entry point, as the system tells.
  q7m::HidFunctions hid;
  EXPECT_FALSE(hid.Bind(kNoProvider));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_MOD_NOT_FOUND);
  EXPECT_FALSE(hid.Bind(Q7M_SETUP_ONLY_PROVIDER));
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_PROC_NOT_FOUND);
  EXPECT_FALSE(hid.bound());
  q7m::SetupFunctions setup;
  EXPECT_TRUE(setup.Bind(Q7M_SETUP_ONLY_PROVIDER));
  setup.Release();
  EXPECT_FALSE(setup.bound());
}

TEST(ComHidOpen, ABusyReaderIsTriedTenTimes) {
  q7mtest::UsbSim sim;
  ASSERT_TRUE(sim.Start());
  const std::string path = sim.PathOf("r1");
  sim.Control("fault r1 busy count=3");
  {
    q7m::ComHID device(nullptr, kProvider);
    EXPECT_EQ(device.OpenDevice(path.c_str(), true), q7m::kPdOk);
    EXPECT_GE(device.deviceHandle(), 0);
  }
  EXPECT_EQ(sim.Counter("r1", "OpensRefused"), 3);
  sim.Control("fault r1 busy count=12");
  q7m::ComHID device(nullptr, kProvider);
  EXPECT_EQ(device.OpenDevice(path.c_str(), true), q7m::kPdSystemError);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SHARING_VIOLATION);
  EXPECT_EQ(sim.Counter("r1", "OpensRefused"), 13);
  // An error that no retry can mend ends the open at once.
  const std::string tooLong = q7mtest::BusDirectory() + "/" + std::string(300, 'x') + ".hid";
  EXPECT_EQ(device.OpenDevice(tooLong.c_str(), true), q7m::kPdSystemError);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILENAME_EXCED_RANGE);
}

// Failures of the identity queries while the resources are made: never a
// success, the removed device is told apart, and nothing is kept.
TEST(ComHidResources, IdentityFailuresAnswerAsTheyShould) {
  q7mtest::UsbSim sim;
  ASSERT_TRUE(sim.Start());
  const std::string path = sim.PathOf("r1");
  struct Case {
    const char* fault;
    uint32_t result;
    uint32_t lastError;
  };
  const Case cases[] = {
      {"caps", q7m::kPdSystemError, Q7M_ERROR_INVALID_DATA},
      // A failure the provider gave no reason for is still a failure.
      {"attributes-silent", q7m::kPdSystemError, Q7M_ERROR_SUCCESS},
      {"attributes-gone", q7m::kPdRemoved, Q7M_ERROR_DEVICE_NOT_CONNECTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    q7m::ComHID device(nullptr, Q7M_FAULTY_PROVIDER);
    ASSERT_EQ(device.OpenDevice(path.c_str(), true), q7m::kPdOk);
    ::setenv("Q7M_TEST_HID_FAULT", c.fault, 1);
    EXPECT_EQ(device.MakeResource(path.c_str()), c.result);
    EXPECT_EQ(Q7M_GetLastError(), c.lastError);
    ::unsetenv("Q7M_TEST_HID_FAULT");
    EXPECT_EQ(device.sendBufferSize(), 0u);
    EXPECT_EQ(device.receiveBufferSize(), 0u);
    PDLNK_DEVICE_INFO info;
    EXPECT_EQ(device.GetDeviceInfo(&info), q7m::kPdOk);  // the device itself is fine
  }
}

class ComHidCryptoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.Start());
    ASSERT_EQ(device_.Open("USB:", false), q7m::kPdOk);
    key_.cryptoMode = 1;
    key_.keyType = q7m::kKeyTypeDes;
  }
  q7mtest::UsbSim sim_;
  q7m::ComHID device_{nullptr, kProvider};
  q7m::SessionKeyRecord key_{};
};

TEST_F(ComHidCryptoTest, CommandsNeedTheProviderAndNothingIsSent) {
  const uint8_t command[] = {'C', '1', '0'};
  EXPECT_EQ(device_.Send(command, 3, &key_, 5000), q7m::kPdNotSupported);
  EXPECT_EQ(device_.Send(command, 0, &key_, 5000), q7m::kPdNotSupported);
  EXPECT_EQ(sim_.Counter("r1", "OutputReports"), 0);
  // The length check comes first, as for a plain message.
  EXPECT_EQ(device_.Send(command, device_.sendBufferSize() - 5, &key_, 5000), q7m::kPdTooLong);
}

TEST_F(ComHidCryptoTest, EndOfTransmissionTravelsPlainAndPlainAnswersAreRead) {
  const uint8_t eot[] = {'E'};
  ASSERT_EQ(device_.Send(eot, 1, &key_, 5000), q7m::kPdOk);
  uint8_t buffer[16];
  uint32_t received = 0;
  // The answer carries no "D" marker: it is taken as it is.
  ASSERT_EQ(device_.Receive(buffer, sizeof buffer, &received, &key_, 5000), q7m::kPdOk);
  ASSERT_EQ(received, 1u);
  EXPECT_EQ(buffer[0], 'E');
  // The reader logs what it received before it answers.
  const std::vector<std::string> rx = sim_.LogLines("r1", "RX");
  ASSERT_EQ(rx.size(), 1u);
  EXPECT_EQ(rx[0], "01 00 01 45 +2064*00");
}

void TraceAnchor() {}

Q7M_CHILD(TracedUsbRun) {
  if (::chdir(args.at(0).c_str()) != 0) return 2;
  // Linked into this program, the port driver traces under its name.
  q7m::LibraryTrace().Attach(reinterpret_cast<const void*>(&TraceAnchor));
  {
    q7m::clsFindHID search(true, kProvider);
    if (search.Create() != q7m::kPdOk) return 3;
    search.SetFilter(nullptr, nullptr);
    PDLNK_FIND_INFO record{};
    if (search.FindFirst(&record) != q7m::kPdOk) return 4;
  }
  q7m::ComHID device(nullptr, kProvider);
  if (device.Open("USB:SN-b", false) != q7m::kPdOk) return 5;
  const uint8_t command[] = {'C', '1', '0'};
  uint8_t buffer[64];
  uint32_t received = 0;
  if (device.Send(command, 3, nullptr, 5000) != q7m::kPdOk ||
      device.Receive(buffer, sizeof buffer, &received, nullptr, 5000) != q7m::kPdOk)
    return 6;
  q7m::ComHID missing(nullptr, kNoProvider);
  missing.Open("USB:", true);
  return 0;
}

Q7M_CHILD(HoldReader) {
  q7m::ComHID device(nullptr, kProvider);
  if (device.Open(args.at(0).c_str(), false) != q7m::kPdOk) return 3;
  q7mtest::Say("held");
  std::string line;
  q7mtest::Hear(&line);
  return 0;
}

TEST(UsbTraceLines, SearchExchangeAndMissingProvider) {
  const std::string dir = q7mtest::EnterFreshWorkingDirectory();
  char base[256];
  ASSERT_GT(Q7M_GetModuleBaseName(nullptr, base, sizeof base), 0u);
  q7mtest::WriteFile(
      dir + "/SCRIBEL.INI",
      "[SCRIBEL]\nFILEPATH=" + dir +
          "\nFILENAME=trace.log\nRECORDLENGTH=200\nMAXRECORD=2000\nFILEFLUSH=OFF\n[" + base +
          "]\nTRACE=0xFFFFFFFF\n");
  q7mtest::UsbSim sim;
  ASSERT_TRUE(sim.Start({{"a", {"--set", "UsbSerial=SN-a"}}, {"b", {"--set", "UsbSerial=SN-b"}}}));
  q7mtest::ChildProcess holder;
  ASSERT_TRUE(holder.Start("HoldReader", {"USB:SN-a"}));
  ASSERT_TRUE(holder.Expect("held"));
  // The trace library is found by name; linked into this program (not
  // beside it, as the port driver is), it needs the library directory on
  // the search path.
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.StartProgram(self, {"--q7m-child=TracedUsbRun", dir},
                                 {"LD_LIBRARY_PATH=" + q7mtest::BuildLibDir()}));
  ASSERT_EQ(child.Wait(std::chrono::seconds(60)), 0);
  holder.WriteLine("done");
  holder.Wait();

  const std::string ring = q7mtest::ReadFile(dir + "/trace.log");
  for (const std::string& line : std::vector<std::string>{
           "I:clsFindHID::FindNext: Trying (1)",
           "I:clsFindHID::FindNext: CreateFile, Share",
           "I:clsFindHID::FindNext: CreateFile ERROR_SHARING_VIOLATION(00000020)",
           "I:clsFindHID::FindNext: Trying (20)",
           "E:clsFindHID::FindNext: CreateFile APIerror(00000020) Dev=" + sim.PathOf("a"),
           "I:clsFindHID::FindNext: GetDeviceInfo Result,LastError(00000000,",
           "I:clsFindHID::FindFirst: FindNext(00000000)",
           "I:ComHID::GetDevicePath: DeviceName=USB:SN-b",
           "I:ComHID::GetDevicePath: Search by ShareMode",
           "I:ComHID::GetDevicePath: Find(VID=1424 PID=52)",
           "I:ComHID::GetDevicePath: Find Succeded",
           "I:ComHID::OpenDevice: ShareMode (0)",
           "I:ComHID::GetDeviceInfo: Manufacturer=Q7M(0590)",
           "I:ComHID::GetDeviceInfo: MaxSendBufferLen=2062",
           "I:ComHID::MakeResource: Product=Q7M card reader (emulated)(0034)",
           "I:ComHID::MakeResource: SendBuffer=",
           "CMD:SN-b   L=0x003 D=43 31 30 ",
           "S:SN-b   L=0x814 D=02 00 03 43 31 30 00 ",
           "R:SN-b   L=0x814 D=02 00 05 50 31 30 30 30 00 ",
           "RES:SN-b   L=0x005 D=50 31 30 30 30 ",
           "E:clsFindHID::FindFirst: SetupAPI Not Loaded(dwResult0000000C)",
           "E:ComHID::GetDevicePath: No Available Device (APIerror:0000007E)",
       }) {
    EXPECT_NE(ring.find(line), std::string::npos) << line;
  }
}

}  // namespace
