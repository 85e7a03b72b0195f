// What the library writes into a trace ring during one serial exchange. The
// trace client binds once per process at its first line, so the traced
// run is a process of its own with SCRIBEL.INI in its working directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "q7m/pdlnk.h"
#include "q7m_test.h"
#include "sim_reader.h"

namespace {

Q7M_CHILD(TracedExchange) {
  if (::chdir(args.at(0).c_str()) != 0) return 2;
  int handle = -1;
  if (PDLNK_Open(&handle, "COM6", 0) != PDLNK_SUCCESS) return 3;
  char buffer[64];
  int received = 0;
  if (PDLNK_Send(handle, "C10", 3, 5000) != PDLNK_SUCCESS ||
      PDLNK_Receive(handle, buffer, sizeof buffer, &received, 5000) != PDLNK_SUCCESS)
    return 4;
  PDLNK_DEVICE_INFO info;
  PDLNK_GetDeviceInfo(handle, &info, 36);
  PDLNK_Close(handle);
  return 0;
}

TEST(TraceLines, OneSerialExchangeWithEveryKindOfLine) {
  const std::string dir = q7mtest::EnterFreshWorkingDirectory();
  q7mtest::WriteFile(dir + "/SCRIBEL.INI",
                     "[SCRIBEL]\nFILEPATH=" + dir +
                         "\nFILENAME=trace.log\nRECORDLENGTH=200\nMAXRECORD=500\nFILEFLUSH=OFF\n"
                         "[PDLNK]\nTRACE=0xFFFFFFFF\n");
  q7mtest::SimReader sim;
  ASSERT_TRUE(sim.Start(6));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("TracedExchange", {dir}));
  ASSERT_EQ(child.Wait(), 0);

  const std::string ring = q7mtest::ReadFile(dir + "/trace.log");
  for (const char* line : {
           "T:PDLNK_Open P2=COM6 P3=0x00",
           "F:PDLNK_Open=0x00 Q1=0x00",
           "T:PDLNK_Send P1=0x00 P2=C10 P3=0x03 P4=0x1388",
           "CMD:COM6   L=0x003 D=43 31 30 ",
           "S:COM6   L=0x008 D=10 02 43 31 30 10 03 41 ",
           "R:COM6   L=0x002 D=10 06 ",
           "S:COM6   L=0x002 D=10 05 ",
           "F:PDLNK_Send=0x00",
           "T:PDLNK_Receive P1=0x00 P3=0x40 P5=0x1388",
           "RES:COM6   L=0x005 D=50 31 30 ",
           "F:PDLNK_Receive=0x00 Q2=P10",
           "I:clsDevice::IsCancel: Not Cancel(Timeout or Abandoned(00000102))",
           "T:PDLNK_GetDeviceInfo P1=0x00",
           "F:PDLNK_GetDeviceInfo=0x0B",
           "T:PDLNK_Close P1=0x00",
           "F:PDLNK_Close=0x00",
       }) {
    EXPECT_NE(ring.find(line), std::string::npos) << line;
  }
}

// The reader goes away while a response is awaited: the hang-up is a line
// error of the link, written under its own trace bit with the point of the
// check that found it.
Q7M_CHILD(TracedHangUp) {
  if (::chdir(args.at(0).c_str()) != 0) return 2;
  int handle = -1;
  if (PDLNK_Open(&handle, "COM7", 0) != PDLNK_SUCCESS) return 3;
  if (PDLNK_Send(handle, "C10", 3, 5000) != PDLNK_SUCCESS) return 4;
  q7mtest::Say("sent");
  std::string line;
  if (!q7mtest::Hear(&line)) return 5;
  char buffer[64];
  int received = 0;
  const uint32_t r = PDLNK_Receive(handle, buffer, sizeof buffer, &received, 5000);
  PDLNK_Close(handle);
  return r == PDLNK_SYSTEM_ERROR ? 0 : 6;
}

TEST(TraceLines, LineErrorOfAHungUpPort) {
  const std::string dir = q7mtest::EnterFreshWorkingDirectory();
  q7mtest::WriteFile(dir + "/SCRIBEL.INI",
                     "[SCRIBEL]\nFILEPATH=" + dir +
                         "\nFILENAME=trace.log\nRECORDLENGTH=200\nMAXRECORD=500\nFILEFLUSH=OFF\n"
                         "[PDLNK]\nTRACE=0x008\n");
  // Requests are repeated only after a faulty answer within the limit
  // (q7m-sim adds the DevicePath).
  q7mtest::WriteFile(dir + "/PDLNK.INI", "[COM7]\nSendENQInvervalTime=60000\n");
  q7mtest::SimReader sim;
  ASSERT_TRUE(sim.Start(7, {"--fault", "no-answer count=1"}));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("TracedHangUp", {dir}));
  std::string line;
  ASSERT_TRUE(child.ReadLine(&line));
  ASSERT_EQ(line, "sent");
  sim.Stop();
  child.WriteLine("go");
  ASSERT_EQ(child.Wait(), 0);

  const std::string ring = q7mtest::ReadFile(dir + "/trace.log");
  EXPECT_NE(ring.find("E:COM7   Err=0x400 Stat=Timeout"), std::string::npos);
  // Nothing but line errors under this bit.
  EXPECT_EQ(ring.find("T:PDLNK_Open"), std::string::npos);
  EXPECT_EQ(ring.find("S:COM7"), std::string::npos);
}

}  // namespace
