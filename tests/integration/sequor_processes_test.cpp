// Sessions of several processes on one emulated reader: locks held by a
// process that is killed, and (where the port driver offers USB, the
// transport that lets processes share a reader) one SharedData block and
// the XFS and API locks between processes.
#include <gtest/gtest.h>

#include <string>

#include "q7m/platform_sys.h"
#include "sequor_sim_fixture.h"

using namespace sequorsim;
using q7mtest::ChildProcess;
using q7mtest::Hear;
using q7mtest::Say;

namespace {

std::string DevicePathOf(SEQUOR_HANDLE session) {
  PDLNK_DEVICE_INFO info{};
  if (SEQUOR_GetDeviceInfo(session, &info) != PDLNK_SUCCESS || info.devicePath == nullptr)
    return "";
  return info.devicePath;
}

std::string KeyOf(const std::string& path) {
  std::string key;
  for (char c : path) {
    if (c != '\\') key += c;
  }
  return key;
}

// Serves one session in a child process: opens it ("serial" or "usb"),
// then obeys the parent line by line until "exit".
int ServeSession(const std::string& transport) {
  SEQUOR_HANDLE session = transport == "serial" ? OpenSerial() : SEQUOR_Open(nullptr, nullptr);
  if (session == nullptr) {
    Say("open failed " + std::to_string(Q7M_GetLastError()));
    return 2;
  }
  Say("open " + KeyOf(DevicePathOf(session)));
  std::string line;
  while (Hear(&line)) {
    char response[256];
    uint32_t length = 0, result = 0;
    if (line == "xfs") {
      Say(std::to_string(SEQUOR_XfsLock(session)));
    } else if (line == "api") {
      Say(std::to_string(SEQUOR_ApiLock(session)));
    } else if (line == "exchange") {
      const uint32_t r =
          SEQUOR_Execute(session, "C10", 3, 2, response, sizeof response, &length, 5, nullptr);
      Say(std::to_string(r) + " " + std::string(response, r == 0 ? length : 0));
    } else if (line == "result") {
      const uint32_t r = SEQUOR_GetResult(session, response, sizeof response, &length, &result);
      Say(std::to_string(r) + " " + std::to_string(result) + " " + std::string(response, length));
    } else if (line == "close") {
      Say(std::to_string(SEQUOR_Close(session)));
      session = nullptr;
    } else if (line == "exit") {
      break;
    }
  }
  return 0;
}

std::string Ask(ChildProcess& child, const std::string& command) {
  std::string answer;
  if (!child.WriteLine(command) || !child.ReadLine(&answer)) return "no answer";
  return answer;
}

// The child's "open <key>" line: the key, or "" when the open failed.
std::string OpenedKey(ChildProcess& child) {
  std::string line;
  if (!child.ReadLine(&line) || line.rfind("open ", 0) != 0) return "";
  return line.substr(5);
}

}  // namespace

Q7M_CHILD(sequor_serve_session) {
  return ServeSession(args.at(0));
}

// Keeps handles to the named mutexes in `args` open until told to end.
Q7M_CHILD(sequor_keep_open) {
  std::vector<Q7M_HANDLE> handles;
  for (const std::string& name : args) {
    Q7M_HANDLE h = Q7M_OpenMutex(name.c_str());
    if (h == nullptr) return 2;
    handles.push_back(h);
  }
  Say("open");
  std::string line;
  Hear(&line);
  for (Q7M_HANDLE h : handles) Q7M_CloseHandle(h);
  return 0;
}

class SerialProcesses : public SequorOnSim {
 protected:
  void SetUp() override {
    SequorOnSim::SetUp();
    // A serial port has one user at a time: the children take turns.
    ASSERT_EQ(SEQUOR_Close(session_), SEQUOR_SUCCESS);
    session_ = nullptr;
  }
};

TEST_F(SerialProcesses, LocksOfAKilledProcessAreFreeForTheNextSession) {
  for (const bool bystander : {false, true}) {
    SCOPED_TRACE(bystander ? "abandoned (another handle kept the locks alive)" : "vanished");
    ChildProcess holder;
    ASSERT_TRUE(holder.Start("sequor_serve_session", {"serial"}));
    const std::string key = OpenedKey(holder);
    ASSERT_FALSE(key.empty());
    ASSERT_EQ(Ask(holder, "xfs"), "0");
    ASSERT_EQ(Ask(holder, "api"), "0");
    ChildProcess keeper;
    if (bystander) {
      ASSERT_TRUE(keeper.Start("sequor_keep_open", {key + "XFS", key + "API"}));
      ASSERT_TRUE(keeper.Expect("open"));
    }
    holder.Kill(9);
    ASSERT_EQ(holder.Wait(), 128 + 9);

    SEQUOR_HANDLE next = OpenSerial();
    ASSERT_NE(next, nullptr) << "the killed process's port is free again; last error "
                             << Q7M_GetLastError();
    EXPECT_EQ(SEQUOR_XfsLock(next), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_ApiLock(next), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_IsXfsLocked(next), SEQUOR_LOCKED_BY_SELF);
    EXPECT_EQ(Run(next, "C10", nullptr), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_Close(next), SEQUOR_SUCCESS);
  }
}

TEST_F(SerialProcesses, ResultStoredByOneProcessIsResetWhenItsLastSessionCloses) {
  ChildProcess first;
  ASSERT_TRUE(first.Start("sequor_serve_session", {"serial"}));
  ASSERT_FALSE(OpenedKey(first).empty());
  EXPECT_EQ(Ask(first, "exchange").substr(0, 5), "0 P10");
  EXPECT_EQ(Ask(first, "result").substr(0, 7), "0 0 P10");
  EXPECT_EQ(Ask(first, "close"), "0");
  first.WriteLine("exit");
  EXPECT_EQ(first.Wait(), 0);

  SEQUOR_HANDLE next = OpenSerial();
  ASSERT_NE(next, nullptr);
  std::string stored = "unchanged";
  EXPECT_EQ(Stored(next, &stored), SEQUOR_SUCCESS);
  EXPECT_EQ(stored, "") << "the block starts clean for the next session";
  EXPECT_EQ(SEQUOR_Close(next), SEQUOR_SUCCESS);
}

// ---- USB: processes sharing one reader ----

class UsbProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("usb");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ASSERT_TRUE(sim_.Start(dir_, {"--usb"}));
    Q7M_SetLastError(0);
    session_ = SEQUOR_Open(nullptr, nullptr);
    if (session_ == nullptr && Q7M_GetLastError() == Q7M_ERROR_INVALID_FUNCTION)
      GTEST_SKIP() << "the port driver offers no USB transport yet";
    ASSERT_NE(session_, nullptr) << "last error " << Q7M_GetLastError();
  }
  void TearDown() override {
    if (session_ != nullptr) {
      EXPECT_EQ(SEQUOR_Close(session_), SEQUOR_SUCCESS);
    }
  }

  std::string dir_;
  SimReader sim_;
  SEQUOR_HANDLE session_ = nullptr;
};

TEST_F(UsbProcesses, TwoProcessesShareOneSharedDataBlock) {
  ChildProcess other;
  ASSERT_TRUE(other.Start("sequor_serve_session", {"usb"}));
  ASSERT_EQ(OpenedKey(other), KeyOf(DevicePathOf(session_)));

  EXPECT_EQ(Ask(other, "exchange").substr(0, 5), "0 P10");
  char response[256];
  uint32_t length = 0, result = 99;
  ASSERT_EQ(SEQUOR_GetResult(session_, response, sizeof response, &length, &result),
            SEQUOR_SUCCESS);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(std::string(response, length).substr(0, 3), "P10") << "stored by the other process";

  ASSERT_EQ(SEQUOR_SetResult(session_, 42), SEQUOR_SUCCESS);
  EXPECT_EQ(Ask(other, "result"), "0 42 ");
  EXPECT_EQ(Ask(other, "close"), "0");
  ASSERT_EQ(SEQUOR_GetResult(session_, response, sizeof response, &length, &result),
            SEQUOR_SUCCESS);
  EXPECT_EQ(result, 42u) << "not the last session: nothing is reset";
  other.WriteLine("exit");
  EXPECT_EQ(other.Wait(), 0);
}

TEST_F(UsbProcesses, LocksHeldByAnotherProcessAreBusyUntilItCloses) {
  ChildProcess holder;
  ASSERT_TRUE(holder.Start("sequor_serve_session", {"usb"}));
  ASSERT_FALSE(OpenedKey(holder).empty());
  ASSERT_EQ(Ask(holder, "xfs"), "0");
  ASSERT_EQ(Ask(holder, "api"), "0");

  EXPECT_EQ(SEQUOR_IsXfsLocked(session_), SEQUOR_LOCKED_BY_OTHER);
  EXPECT_EQ(SEQUOR_XfsLock(session_), SEQUOR_LOCKED_BY_OTHER);
  EXPECT_EQ(SEQUOR_XfsUnlock(session_), SEQUOR_LOCKED_BY_OTHER);
  EXPECT_EQ(SEQUOR_IsApiLocked(session_), SEQUOR_LOCKED_BY_OTHER);
  EXPECT_EQ(SEQUOR_ApiLock(session_), SEQUOR_LOCKED_BY_OTHER);
  EXPECT_EQ(Ask(holder, "xfs"), "21");

  EXPECT_EQ(Ask(holder, "close"), "0");
  EXPECT_EQ(SEQUOR_XfsLock(session_), SEQUOR_SUCCESS);
  EXPECT_EQ(SEQUOR_ApiLock(session_), SEQUOR_SUCCESS);
  holder.WriteLine("exit");
  EXPECT_EQ(holder.Wait(), 0);
}
