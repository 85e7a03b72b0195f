// The API library across processes and readers: a device busy in another
// process, the default open block, the device listing, and the trace lines
// a traced process writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "q7m/sequor.h"
#include "rdax_sim_fixture.h"

namespace rdaxsim {
namespace {

SEQUOR_HANDLE Session(const RDAX* handle) {
  return reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
}

Link LinkOf(const std::string& name) {
  return name == "usb" ? Link::kUsb : Link::kSerial;
}

// Opens the reader and holds the API lock, as a process does while its
// operation runs, until the parent says "release".
Q7M_CHILD(rdax_hold_device) {
  const RDAX* handle = OpenReader(LinkOf(args.at(0)));
  if (handle == nullptr) return 2;
  if (SEQUOR_ApiLock(Session(handle)) != SEQUOR_SUCCESS) return 3;
  q7mtest::Say("holding");
  std::string line;
  q7mtest::Hear(&line);
  SEQUOR_ApiUnlock(Session(handle));
  RDAX_CloseDevice(handle);
  return 0;
}

// Opens the reader and restricts it to its own session until the parent
// says "release".
Q7M_CHILD(rdax_restrict_device) {
  const RDAX* handle = OpenReader(LinkOf(args.at(0)));
  if (handle == nullptr) return 2;
  if (SEQUOR_XfsLock(Session(handle)) != SEQUOR_SUCCESS) return 3;
  q7mtest::Say("restricted");
  std::string line;
  q7mtest::Hear(&line);
  RDAX_CloseDevice(handle);
  return 0;
}

using ProcessesOnSim = RdaxOnSim;

TEST_P(ProcessesOnSim, ARestrictionOfAnotherProcessRefusesOnlyTheGuardedExports) {
  q7mtest::ChildProcess holder;
  ASSERT_TRUE(holder.Start("rdax_restrict_device", {"usb"}));
  ASSERT_TRUE(holder.Expect("restricted"));

  EXPECT_EQ(RDAX_InitialReset(handle_, nullptr), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_RESTRICTED);
  Q7M_HANDLE event = Q7M_CreateEvent(1, 0, nullptr);
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, 7, nullptr, event), RDAX_E_RESTRICTED);
  EXPECT_EQ(Q7M_WaitForSingleObject(event, 0), Q7M_WAIT_TIMEOUT) << "refused, never started";
  Q7M_CloseHandle(event);
  // Exports the restriction does not guard go on, and so does the raw
  // command.
  RDAX_STATUS status{};
  EXPECT_NE(RDAX_GetStatus(handle_, &status, nullptr), RDAX_E_RESTRICTED);
  std::string response;
  EXPECT_EQ(Send("C10", &response), RDAX_OK);

  ASSERT_TRUE(holder.WriteLine("release"));
  ASSERT_EQ(holder.Wait(), 0);
  EXPECT_NE(RDAX_InitialReset(handle_, nullptr), RDAX_E_RESTRICTED);
}

TEST_P(ProcessesOnSim, AnOperationOfAnotherProcessMakesTheDeviceBusy) {
  q7mtest::ChildProcess holder;
  ASSERT_TRUE(holder.Start("rdax_hold_device", {GetParam() == Link::kUsb ? "usb" : "serial"}));
  ASSERT_TRUE(holder.Expect("holding"));

  std::string response;
  EXPECT_EQ(Send("C10", &response), RDAX_E_BUSY);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_BUSY);
  char buffer[64];
  uint32_t length = 0;
  Q7M_HANDLE event = Q7M_CreateEvent(1, 0, nullptr);
  EXPECT_EQ(RDAX_SendCommand(handle_, "C10", 3, 2, buffer, sizeof buffer, &length, 5, event),
            RDAX_E_BUSY);
  Q7M_CloseHandle(event);

  ASSERT_TRUE(holder.WriteLine("release"));
  ASSERT_EQ(holder.Wait(), 0);
  EXPECT_EQ(Send("C10", &response), RDAX_OK);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
}

// A serial port has one user at a time: only a USB reader is shared by
// processes.
INSTANTIATE_TEST_SUITE_P(Links, ProcessesOnSim, ::testing::Values(Link::kUsb), LinkName);

class ReadersOnBus : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("bus");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  std::string dir_;
  sequorsim::SimReader sim_;
};

TEST_F(ReadersOnBus, TheDefaultOpenBlockAcceptsProducts52And83Only) {
  ASSERT_TRUE(sim_.Start(dir_, {"--usb=other", "--set", "ProductId=99"}));
  EXPECT_EQ(RDAX_OpenDevice(nullptr, nullptr), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);

  sequorsim::SimReader second;
  ASSERT_TRUE(
      second.Start(dir_, {"--usb=new", "--set", "ProductId=83", "--set", "UsbSerial=SN0083"}));
  const RDAX* handle = RDAX_OpenDevice(nullptr, nullptr);
  ASSERT_NE(handle, nullptr) << "last error " << Q7M_GetLastError();
  EXPECT_EQ(RDAX_GetResult(handle), RDAX_OK);
  EXPECT_EQ(RDAX_CloseDevice(handle), RDAX_OK);

  // A block of the caller's own is passed on unchanged.
  const uint16_t only99[] = {99};
  RDAX_OPEN_PARAMS params{};
  params.words[0] = reinterpret_cast<uintptr_t>(only99);
  params.words[1] = 1;
  handle = RDAX_OpenDevice(nullptr, &params);
  ASSERT_NE(handle, nullptr) << "last error " << Q7M_GetLastError();
  EXPECT_EQ(RDAX_CloseDevice(handle), RDAX_OK);
}

TEST_F(ReadersOnBus, EnumerationCountsTheReadersOfProduct52) {
  ASSERT_TRUE(sim_.Start(dir_, {"--usb=a", "--usb=b", "--set", "ProductId=83"}));
  uint32_t count = 99;
  EXPECT_EQ(RDAX_EnumerateDevices(&count), RDAX_OK);
  EXPECT_EQ(count, 1u);

  PDLNK_FIND_INFO info{};
  info.recordSize = sizeof info;
  ASSERT_EQ(RDAX_FindFirst(&info), RDAX_OK);
  int found = 1;
  while (RDAX_FindNext(&info) == RDAX_OK) ++found;
  RDAX_FindClose(&info);
  EXPECT_EQ(found, 2);
  EXPECT_EQ(RDAX_EnumerateDevices(nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_FindFirst(nullptr), RDAX_E_NULL_ARGUMENT);
}

TEST_F(ReadersOnBus, WithoutReadersEnumerationCountsZeroButFindFirstFails) {
  ASSERT_TRUE(sim_.Start(dir_));  // a serial reader only
  uint32_t count = 99;
  EXPECT_EQ(RDAX_EnumerateDevices(&count), RDAX_OK);
  EXPECT_EQ(count, 0u);
  PDLNK_FIND_INFO info{};
  info.recordSize = sizeof info;
  EXPECT_EQ(RDAX_FindFirst(&info), RDAX_F_SYSTEM);
  RDAX_FindClose(&info);
}

// ---- trace lines ----

std::string Hex8(const void* p) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
  return text;
}

// A traced process: SCRIBEL.INI is in its working directory when the
// library is loaded. It prints the handle's trace word for the parent.
Q7M_CHILD(rdax_traced_calls) {
  const RDAX* handle = OpenReader(Link::kSerial);
  if (handle == nullptr) return 2;
  RDAX_STATUS* fakeStatus = reinterpret_cast<RDAX_STATUS*>(uintptr_t{0x1234});
  RDAX_GetStatus(nullptr, fakeStatus, nullptr);
  RDAX_ReadMagTrack(nullptr, 4, reinterpret_cast<RDAX_TRACK_DATA*>(uintptr_t{0x5678}), nullptr);
  RDAX_ExecuteDownload(handle, "firmware.bin", nullptr);  // no such file: last error 2

  Q7M_HANDLE event = Q7M_CreateEvent(1, 0, nullptr);
  char response[64];
  uint32_t length = 0;
  if (RDAX_SendCommand(handle, "C10", 3, 2, response, sizeof response, &length, 5, event) !=
      RDAX_I_ASYNC_STARTED)
    return 3;
  if (Q7M_WaitForSingleObject(event, 30000) != Q7M_WAIT_OBJECT_0) return 4;
  RDAX_LogErrorData(handle, "card jam at the gate");
  uint32_t count = 0;
  RDAX_EnumerateDevices(&count);
  q7mtest::Say(Hex8(handle));
  RDAX_CloseDevice(handle);
  return 0;
}

TEST(RdaxTraceLines, EntrySeverityAndExitLinesOfAFewExports) {
  const std::string dir = q7mtest::MakeTempDir("trace");
  ASSERT_EQ(chdir(dir.c_str()), 0);
  WriteFullTraceIni(dir);
  sequorsim::SimReader sim;
  ASSERT_TRUE(sim.Start(dir));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("rdax_traced_calls"));
  std::string words;
  ASSERT_TRUE(child.ReadLine(&words));
  ASSERT_EQ(child.Wait(), 0);
  const std::string handle = words.substr(0, 10);

  const auto texts = FullTraceTexts(dir);
  for (const std::string& line : {
           std::string("RDAX:Entry=GetStatus P1=0x00000000 P2=0x00001234 P3=0x00000000"),
           std::string("RDAX:Error=0x82000001 API=GetStatus P1=0x00000000 P2=0x00001234 "
                       "P3=0x00000000"),
           std::string("RDAX:Exit=GetStatus P1=0x82000001"),
           std::string("RDAX:Entry=ReadMagTrack P1=0x00000000 P2=0x04 P3=0x00005678 "
                       "P4=0x00000000"),
           std::string("RDAX:Error=0x82000001 API=ReadMagTrack P1=0x00000000 P2=0x04 "
                       "P3=0x00005678 P4=0x00000000"),
           "RDAX:Entry=ExecuteDownload P1=" + handle + " P2=firmware.bin P3=0x00000000",
           "RDAX:FatalError=0x00000002 API=ExecuteDownload P1=" + handle +
               " P2=firmware.bin P3=0x00000000",
           std::string("RDAX:Exit=ExecuteDownload P1=0xC1000000"),
           "RDAX:Entry=SendCommand P1=" + handle,
           std::string("RDAX:Exit=SendCommand P1=0x00000001"),
           "RDAX:Entry=LogErrorData P1=" + handle + " P2=0x",
           std::string("RDAX:User=card jam at the gate"),
           std::string("RDAX:Exit=EnumerateDevices P1=0x00000000 Q1=0x00000000"),
           std::string("RDAX:Entry=OpenDevice P1=COM3 P2=0x"),
           "RDAX:Exit=OpenDevice P1=" + handle,
           "RDAX:Entry=CloseDevice P1=" + handle,
           std::string("RDAX:Exit=CloseDevice P1=0x00000000"),
       }) {
    bool found = false;
    for (const std::string& text : texts) {
      // Lines ending in "0x" are matched up to the pointer that follows.
      const bool prefix = line.size() >= 2 && line.compare(line.size() - 2, 2, "0x") == 0;
      if (prefix ? text.compare(0, line.size(), line) == 0 : text == line) found = true;
    }
    EXPECT_TRUE(found) << line;
  }
  bool attached = false;
  for (const std::string& text : texts) {
    if (text.rfind("RDAX:DLL Atached=0x", 0) == 0) attached = true;
    EXPECT_EQ(text.find("API=SendCommand"), std::string::npos)
        << "an accepted asynchronous call writes no severity line: " << text;
    EXPECT_EQ(text.find("RDAX:FatalError=0x00000000"), std::string::npos) << text;
  }
  EXPECT_TRUE(attached);
}

}  // namespace
}  // namespace rdaxsim
