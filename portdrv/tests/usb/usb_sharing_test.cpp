// Processes sharing one USB reader through the port driver's registry of
// open handles: each newcomer takes over an advertised handle, so all of
// them exchange reports over the one connection the first process opened,
// and a cancel in one process reaches a receive waiting in another.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "q7m/pdlnk.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "sim_reader.h"  // EnterFreshWorkingDirectory
#include "usb_sim.h"

namespace {

constexpr int kLimit = 5000;

bool Exchange(int handle, const char* command, std::string* response) {
  char buffer[64];
  int received = 0;
  if (PDLNK_Send(handle, command, static_cast<int>(std::strlen(command)), kLimit) != 0)
    return false;
  const uint32_t r = PDLNK_Receive(handle, buffer, sizeof buffer, &received, kLimit);
  response->assign(buffer, static_cast<size_t>(received));
  return r == PDLNK_SUCCESS;
}

// A process that opens the reader shared and exchanges on command:
// "exchange" -> "P1000", "wait" -> the answer of a receive that gets no
// response, "quit".
Q7M_CHILD(SharingProcess) {
  int handle = -1;
  if (PDLNK_Open(&handle, "USB:", 1) != PDLNK_SUCCESS) return 3;
  q7mtest::Say("open");
  for (std::string line; q7mtest::Hear(&line);) {
    if (line == "exchange") {
      std::string response;
      q7mtest::Say(Exchange(handle, "C10", &response) ? response : "failed");
    } else if (line == "wait") {
      char buffer[64];
      int received = 0;
      q7mtest::Say("waiting");
      const uint32_t r = PDLNK_Receive(handle, buffer, sizeof buffer, &received, 20000);
      q7mtest::Say("receive " + std::to_string(r));
    } else if (line == "reset") {
      q7mtest::Say("reset " + std::to_string(PDLNK_ResetIO(handle)));
    } else {
      break;
    }
  }
  return PDLNK_Close(handle) == PDLNK_SUCCESS ? 0 : 4;
}

TEST(UsbSharing, ProcessesTakeOverTheOneConnection) {
  q7mtest::EnterFreshWorkingDirectory();
  q7mtest::UsbSim sim;
  ASSERT_TRUE(sim.Start());
  int handle = -1;
  ASSERT_EQ(PDLNK_Open(&handle, "USB:", 1), PDLNK_SUCCESS);

  q7mtest::ChildProcess second;
  ASSERT_TRUE(second.Start("SharingProcess"));
  ASSERT_TRUE(second.Expect("open"));
  // The second process took over this process's handle: one connection.
  EXPECT_EQ(sim.Counter("r1", "ReportConnections"), 1);
  second.WriteLine("exchange");
  EXPECT_TRUE(second.Expect("P1000"));
  std::string response;
  ASSERT_TRUE(Exchange(handle, "C10", &response));
  EXPECT_EQ(response, "P1000");

  // The first process leaves; a third takes over the second's handle.
  ASSERT_EQ(PDLNK_Close(handle), PDLNK_SUCCESS);
  q7mtest::ChildProcess third;
  ASSERT_TRUE(third.Start("SharingProcess"));
  ASSERT_TRUE(third.Expect("open"));
  EXPECT_EQ(sim.Counter("r1", "ReportConnections"), 1);
  third.WriteLine("exchange");
  EXPECT_TRUE(third.Expect("P1000"));
  second.WriteLine("exchange");
  EXPECT_TRUE(second.Expect("P1000"));

  second.WriteLine("quit");
  third.WriteLine("quit");
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_EQ(third.Wait(), 0);
  // The last close ends the one connection; the emulator notices the
  // hang-up in its own time.
  EXPECT_EQ(sim.AwaitCounter("r1", "ReportConnections", 0), 0);
}

TEST(UsbSharing, ACancelReachesAReceiveInAnotherProcess) {
  q7mtest::EnterFreshWorkingDirectory();
  q7mtest::UsbSim sim;
  ASSERT_TRUE(sim.Start());
  int handle = -1;
  ASSERT_EQ(PDLNK_Open(&handle, "USB:", 1), PDLNK_SUCCESS);
  q7mtest::ChildProcess other;
  ASSERT_TRUE(other.Start("SharingProcess"));
  ASSERT_TRUE(other.Expect("open"));
  other.WriteLine("wait");
  ASSERT_TRUE(other.Expect("waiting"));
  Q7M_Sleep(100);  // let the receive start waiting (it ends by cancel either way)
  ASSERT_EQ(PDLNK_CancelIO(handle), PDLNK_SUCCESS);
  EXPECT_TRUE(other.Expect("receive " + std::to_string(PDLNK_CANCELLED)));
  // The cancel holds for every sharer until one resets it.
  EXPECT_EQ(PDLNK_Send(handle, "C10", 3, kLimit), PDLNK_CANCELLED);
  other.WriteLine("reset");
  EXPECT_TRUE(other.Expect("reset 0"));
  std::string response;
  EXPECT_TRUE(Exchange(handle, "C10", &response));
  other.WriteLine("quit");
  EXPECT_EQ(other.Wait(), 0);
  PDLNK_Close(handle);
}

}  // namespace
