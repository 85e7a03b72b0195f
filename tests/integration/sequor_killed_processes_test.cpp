// Processes killed with SIGKILL at the worst moments while others keep using
// the same emulated reader: in the middle of an exchange whose answer comes
// late, inside a cancel, and holding sessions that count in the device's
// shared block. What they held must come back to the next process, and a
// late answer must never be handed to the next caller as its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "q7m/common/object_name.h"
#include "q7m/platform_sys.h"
#include "sequor_sim_fixture.h"
#include "shared_block_view.h"

using namespace sequorsim;
using q7mtest::ChildProcess;
using q7mtest::Hear;
using q7mtest::Say;

namespace {

// The readers of the emulator, as it names them in the order started.
constexpr char kSerialReader[] = "r1";
constexpr char kUsbReader[] = "r2";

SEQUOR_HANDLE OpenOn(const std::string& link) {
  return link == "serial" ? OpenSerial() : SEQUOR_Open(nullptr, nullptr);
}

std::string DevicePathOf(SEQUOR_HANDLE session) {
  PDLNK_DEVICE_INFO info{};
  if (SEQUOR_GetDeviceInfo(session, &info) != PDLNK_SUCCESS || info.devicePath == nullptr)
    return "";
  return info.devicePath;
}

std::string KeyOf(SEQUOR_HANDLE session) {
  std::string key;
  for (char c : DevicePathOf(session))
    if (c != '\\') key += c;
  return key;
}

// One exchange of a three-character command: "<result> <response>".
std::string Exchanged(SEQUOR_HANDLE session, const std::string& command, uint32_t receiveSeconds) {
  char response[1024];
  uint32_t length = 0;
  const uint32_t r = SEQUOR_Execute(session, command.data(), 3, 2, response, sizeof response,
                                    &length, receiveSeconds, nullptr);
  return std::to_string(r) + " " + std::string(response, r == 0 ? length : 0);
}

// How many files of the object namespace carry `part` in their name.
int ObjectFiles(const std::string& part) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::getenv("Q7M_OBJECT_DIR")))
    n += entry.path().filename().string().find(part) != std::string::npos;
  return n;
}

}  // namespace

// Opens `args[1]` sessions (default 1) on the link `args[0]` and obeys the
// parent line by line: "api", "run <command> <receive seconds>", "cancel",
// "exit".
Q7M_CHILD(sequor_killable) {
  const int count = args.size() > 1 ? std::stoi(args[1]) : 1;
  std::vector<SEQUOR_HANDLE> sessions;
  for (int i = 0; i < count; ++i) {
    SEQUOR_HANDLE session = OpenOn(args.at(0));
    if (session == nullptr) {
      Say("open failed " + std::to_string(Q7M_GetLastError()));
      return 2;
    }
    sessions.push_back(session);
  }
  Say("open");
  for (std::string line; Hear(&line);) {
    if (line == "api") {
      Say(std::to_string(SEQUOR_ApiLock(sessions[0])));
    } else if (line.rfind("run ", 0) == 0) {
      Say(Exchanged(sessions[0], line.substr(4, 3),
                    static_cast<uint32_t>(std::stoul(line.substr(8)))));
    } else if (line == "cancel") {
      Say(std::to_string(SEQUOR_Cancel(sessions[0])));
    } else if (line == "exit") {
      break;
    }
  }
  for (SEQUOR_HANDLE session : sessions) SEQUOR_Close(session);
  return 0;
}

class KilledProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("killed");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ASSERT_TRUE(sim_.Start(dir_, {"--usb"}));
  }
  void TearDown() override {
    if (session_ != nullptr) {
      EXPECT_EQ(SEQUOR_Close(session_), SEQUOR_SUCCESS);
    }
  }

  // Opens the test's own session on the link.
  void OpenOwn(const std::string& link) {
    session_ = OpenOn(link);
    ASSERT_NE(session_, nullptr) << "last error " << Q7M_GetLastError();
  }
  void StartChild(ChildProcess& child, const std::string& link, int sessions = 1) {
    ASSERT_TRUE(child.Start("sequor_killable", {link, std::to_string(sessions)}));
    ASSERT_TRUE(child.Expect("open"));
  }
  std::string Ask(ChildProcess& child, const std::string& line) {
    std::string answer;
    if (!child.WriteLine(line) || !child.ReadLine(&answer)) return "no answer";
    return answer;
  }
  static void Kill(ChildProcess& child) {
    child.Kill(9);
    ASSERT_EQ(child.Wait(), 128 + 9);
  }

  // A child asks for sensor levels, the reader answers 1.5 s late, and the
  // child is killed while it waits (or, without a kill, the test's own
  // session gives up after one second); then the test's session asks for
  // the counters, and the levels again.
  void LateAnswerNeverReachesTheNextCaller(const std::string& link, const char* reader, bool kill) {
    SCOPED_TRACE(link + (kill ? ", caller killed" : ", caller timed out"));
    sim_.Control({"fault", reader, "late", "ms=1500"});
    if (kill) {
      ChildProcess caller;
      StartChild(caller, link);
      ASSERT_EQ(Ask(caller, "api"), "0");
      ASSERT_TRUE(caller.WriteLine("run CL0 10"));
      ASSERT_TRUE(sim_.WaitForLog("late ms=1500"));
      Kill(caller);
      // A serial port has one user at a time: it is free now.
      if (session_ == nullptr) OpenOwn(link);
      EXPECT_EQ(SEQUOR_ApiLock(session_), SEQUOR_SUCCESS) << "the killed caller's lock is free";
    } else {
      if (session_ == nullptr) OpenOwn(link);
      EXPECT_EQ(Exchanged(session_, "CL0", 1), "2 ");
    }
    EXPECT_EQ(Exchanged(session_, "CM0", 5).substr(0, 5), "0 PM0");
    EXPECT_EQ(Exchanged(session_, "CL0", 5).substr(0, 5), "0 PL0");
    EXPECT_EQ(Exchanged(session_, "CM0", 5).substr(0, 5), "0 PM0");
    if (kill) {
      EXPECT_EQ(SEQUOR_ApiUnlock(session_), SEQUOR_SUCCESS);
    }
  }

  std::string dir_;
  SimReader sim_;
  SEQUOR_HANDLE session_ = nullptr;
};

TEST_F(KilledProcesses, LateAnswerOfAKilledCallerNeverReachesTheNextCallerOnUsb) {
  OpenOwn("usb");
  LateAnswerNeverReachesTheNextCaller("usb", kUsbReader, true);
}

TEST_F(KilledProcesses, LateAnswerOfATimedOutCallerNeverReachesTheNextCallerOnUsb) {
  LateAnswerNeverReachesTheNextCaller("usb", kUsbReader, false);
}

TEST_F(KilledProcesses, LateAnswerOfAKilledCallerNeverReachesTheNextCallerOnSerial) {
  LateAnswerNeverReachesTheNextCaller("serial", kSerialReader, true);
}

TEST_F(KilledProcesses, LateAnswerOfATimedOutCallerNeverReachesTheNextCallerOnSerial) {
  LateAnswerNeverReachesTheNextCaller("serial", kSerialReader, false);
}

TEST_F(KilledProcesses, KillInsideCancelLeavesNoCancelStandingForOthers) {
  OpenOwn("usb");
  // The device's cancel event, which every sharer's exchange watches.
  const std::string name = q7m::ComposeObjectName(DevicePathOf(session_).c_str(), "EvtCancel");
  Q7M_HANDLE cancel = Q7M_OpenEvent(name.c_str());
  ASSERT_NE(cancel, nullptr) << name;

  ChildProcess canceller;
  StartChild(canceller, "usb");
  ASSERT_TRUE(canceller.WriteLine("cancel"));
  // With nothing running, the cancel waits a second before its reset: the
  // kill lands in that window.
  ASSERT_EQ(Q7M_WaitForSingleObject(cancel, 10000), Q7M_WAIT_OBJECT_0);
  Kill(canceller);
  ASSERT_EQ(Q7M_WaitForSingleObject(cancel, 0), Q7M_WAIT_OBJECT_0)
      << "killed before its reset, the cancel is still set";

  EXPECT_EQ(Exchanged(session_, "C10", 5).substr(0, 5), "0 P10");
  EXPECT_EQ(Q7M_WaitForSingleObject(cancel, 0), Q7M_WAIT_TIMEOUT);
  EXPECT_EQ(Exchanged(session_, "CUE", 5).substr(0, 5), "0 PUE");
  Q7M_CloseHandle(cancel);
}

TEST_F(KilledProcesses, OpenCountTakesKilledProcessesOutAndTheLastCloseResetsTheBlock) {
  OpenOwn("usb");
  const std::string key = KeyOf(session_);
  ChildProcess a, b, c;
  StartChild(a, "usb", 2);
  StartChild(b, "usb", 2);
  StartChild(c, "usb", 2);
  ASSERT_EQ(SEQUOR_SetResult(session_, 42), SEQUOR_SUCCESS);
  {
    sequortest::SharedBlockView block(key);
    ASSERT_TRUE(block.valid());
    EXPECT_EQ(block.openCount(), 7u);
  }
  Kill(a);
  Kill(c);

  // The next open meets the killed processes' shares and takes them out.
  SEQUOR_HANDLE second = SEQUOR_Open(nullptr, nullptr);
  ASSERT_NE(second, nullptr);
  {
    sequortest::SharedBlockView block(key);
    EXPECT_EQ(block.openCount(), 4u) << "two of the test's, two of the live child's";
    EXPECT_EQ(block.result(), 42u) << "sessions are left: nothing is reset";
  }
  EXPECT_EQ(ObjectFiles("SES"), 3)
      << "the block, the test's share and the live child's: the killed ones' shares are gone";

  ASSERT_TRUE(b.WriteLine("exit"));
  EXPECT_EQ(b.Wait(), 0);
  EXPECT_EQ(SEQUOR_Close(second), SEQUOR_SUCCESS);
  sequortest::SharedBlockView block(key);
  EXPECT_EQ(block.openCount(), 1u);
  EXPECT_EQ(SEQUOR_Close(session_), SEQUOR_SUCCESS);
  session_ = nullptr;
  EXPECT_EQ(block.openCount(), 0u);
  EXPECT_EQ(block.result(), 0u) << "the last session reset the block";
  EXPECT_EQ(block.DeviceName(), "");
}
