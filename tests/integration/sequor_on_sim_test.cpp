// The execution service with the real port driver and an emulated serial
// reader: exchanges, the end-of-transmission command, an asynchronous
// exchange, cancels, refused opens, the data mutex held elsewhere, and the
// trace lines of a whole session.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "q7m/platform_sys.h"
#include "sequor_sim_fixture.h"
#include "shared_block_view.h"

using namespace sequorsim;
using q7mtest::ChildProcess;

namespace {

class SerialSession : public SequorOnSim {};

// The device key of an open session: its device path without backslashes.
std::string DeviceKey(SEQUOR_HANDLE session) {
  PDLNK_DEVICE_INFO info{};
  EXPECT_EQ(SEQUOR_GetDeviceInfo(session, &info), PDLNK_SUCCESS);
  std::string key;
  for (const char* p = info.devicePath; p != nullptr && *p != '\0'; ++p) {
    if (*p != '\\') key += *p;
  }
  return key;
}

// Waits until the device's stored command is `command`: the exchange that
// sent it has stored it and goes on to wait for the answer.
bool WaitForStoredCommand(SEQUOR_HANDLE session, const std::string& command) {
  sequortest::SharedBlockView block(DeviceKey(session));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (block.valid() && std::chrono::steady_clock::now() < deadline) {
    if (block.command() == command) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

}  // namespace

// Holds the named mutex `args[0]` until the parent says anything.
Q7M_CHILD(sequor_hold_data_mutex) {
  Q7M_HANDLE mutex = Q7M_CreateMutex(1, args.at(0).c_str());
  if (mutex == nullptr) return 2;
  q7mtest::Say("held");
  std::string line;
  q7mtest::Hear(&line);
  Q7M_ReleaseMutex(mutex);
  Q7M_CloseHandle(mutex);
  return 0;
}

// A whole session in a fresh process, so its trace client starts with the
// SCRIBEL.INI of the current directory.
Q7M_CHILD(sequor_traced_session) {
  SEQUOR_HANDLE session = OpenSerial();
  if (session == nullptr) return 2;
  char response[64];
  uint32_t length = 0;
  SEQUOR_Execute(session, "C10", 3, 2, response, sizeof response, &length, 5, nullptr);
  SEQUOR_XfsLock(session);
  SEQUOR_XfsUnlock(session);
  SEQUOR_ApiLock(session);
  SEQUOR_ApiUnlock(session);
  SEQUOR_Cancel(session);
  return SEQUOR_Close(session) == SEQUOR_SUCCESS ? 0 : 3;
}

TEST_F(SerialSession, RoundTripIsStoredForEverySessionToRead) {
  std::string response;
  ASSERT_EQ(Run(session_, "C10", &response), SEQUOR_SUCCESS);
  ASSERT_FALSE(response.empty());
  EXPECT_EQ(response[0], 'P');
  EXPECT_EQ(response.substr(1, 2), "10") << "the echoed command code";
  std::string stored;
  EXPECT_EQ(Stored(session_, &stored), SEQUOR_SUCCESS);
  EXPECT_EQ(stored, response);

  ASSERT_EQ(SEQUOR_SetResult(session_, 0x40000001u), SEQUOR_SUCCESS);
  EXPECT_EQ(Stored(session_, &stored), 0x40000001u);
  EXPECT_EQ(stored, "");
}

TEST_F(SerialSession, EndOfTransmissionIsAnsweredWithE) {
  std::string response;
  ASSERT_EQ(Run(session_, "E", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "E");
  std::string stored;
  EXPECT_EQ(Stored(session_, &stored), SEQUOR_CANCELLED);
  EXPECT_EQ(stored, "E");
  // The reader is ready for the next command.
  ASSERT_EQ(Run(session_, "C11", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response.substr(0, 3), "P11");
}

TEST_F(SerialSession, AsynchronousExchangeRunsWhileTheCallerGoesOn) {
  std::string previous;
  ASSERT_EQ(Run(session_, "C10", &previous), SEQUOR_SUCCESS);

  // The reader keeps the first one waiting until it is cancelled, so what
  // the caller sees while an exchange runs does not depend on how fast
  // this machine is.
  sim_.Control({"fault", "r1", "no-answer"});
  Q7M_HANDLE done = Q7M_CreateEvent(1, 0, nullptr);
  char response[256];
  uint32_t length = 0;
  ASSERT_EQ(SEQUOR_Execute(session_, "C11", 3, 2, response, sizeof response, &length, 30, done),
            SEQUOR_ASYNC_STARTED);
  std::string stored;
  EXPECT_EQ(Stored(session_, &stored), SEQUOR_ASYNC_STARTED);
  EXPECT_EQ(stored, previous) << "the last exchange's response while the new one runs";
  ASSERT_TRUE(WaitForStoredCommand(session_, "C11"));
  EXPECT_EQ(Q7M_WaitForSingleObject(done, 0), Q7M_WAIT_TIMEOUT);
  EXPECT_EQ(SEQUOR_Cancel(session_), SEQUOR_SUCCESS);
  ASSERT_EQ(Q7M_WaitForSingleObject(done, 20000), Q7M_WAIT_OBJECT_0);
  Q7M_ResetEvent(done);

  // An exchange that is answered: its response and result once the event
  // has been signalled.
  ASSERT_EQ(SEQUOR_Execute(session_, "CV0", 3, 2, response, sizeof response, &length, 10, done),
            SEQUOR_ASYNC_STARTED);
  ASSERT_EQ(Q7M_WaitForSingleObject(done, 20000), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Stored(session_, &stored), SEQUOR_SUCCESS);
  ASSERT_GE(length, 3u);
  EXPECT_EQ(std::string(response, 3), "PV0");
  EXPECT_EQ(stored, std::string(response, length));
  Q7M_CloseHandle(done);
}

TEST_F(SerialSession, CancelEndsAnExchangeThatWaitsForItsAnswer) {
  sim_.Control({"fault", "r1", "no-answer"});
  uint32_t exchange = 0xFFFFFFFFu;
  std::thread waiting([&] { exchange = Run(session_, "C10", nullptr, 30); });
  // Cancel once the exchange waits for its answer (the command's arrival at
  // the reader is earlier than that).
  ASSERT_TRUE(WaitForStoredCommand(session_, "C10"));
  EXPECT_EQ(SEQUOR_Cancel(session_), SEQUOR_SUCCESS);
  waiting.join();
  EXPECT_EQ(exchange, SEQUOR_CANCELLED);

  std::string stored;
  EXPECT_EQ(Stored(session_, &stored), SEQUOR_CANCELLED);
  EXPECT_EQ(stored, "E");
  std::string response;
  EXPECT_EQ(Run(session_, "C10", &response), SEQUOR_SUCCESS) << "the port is re-armed";
  EXPECT_EQ(response.substr(0, 3), "P10");
}

TEST_F(SerialSession, CancelWithNothingRunningStillEndsTheTransmission) {
  EXPECT_EQ(SEQUOR_Cancel(session_), SEQUOR_SUCCESS);
  std::string stored;
  EXPECT_EQ(Stored(session_, &stored), SEQUOR_CANCELLED);
  EXPECT_EQ(stored, "E");
  EXPECT_TRUE(sim_.WaitForLog("|E|"));
}

TEST_F(SerialSession, OpensThatCannotWorkSayWhy) {
  Q7M_SetLastError(0);
  EXPECT_EQ(SEQUOR_Open("COM3", nullptr), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_DATA);

  EXPECT_EQ(SEQUOR_Open(std::string(260, 'S').c_str(), nullptr), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_NAME);

  // A port whose device does not exist: no reader found.
  q7mtest::WriteFile(dir_ + "/PDLNK.INI", q7mtest::ReadFile(dir_ + "/PDLNK.INI") +
                                              "\n[COM5]\nDevicePath=" + dir_ + "/no-such-port\n");
  const SEQUOR_OPEN_PARAMS params{0, kLineSpeed};
  EXPECT_EQ(SEQUOR_Open("COM5", &params), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);

  // The open session keeps working.
  EXPECT_EQ(Run(session_, "C10", nullptr), SEQUOR_SUCCESS);
}

TEST_F(SerialSession, DataMutexHeldInAnotherProcessTimesTheServiceOut) {
  std::string first;
  ASSERT_EQ(Run(session_, "C10", &first), SEQUOR_SUCCESS);
  ChildProcess holder;
  ASSERT_TRUE(holder.Start("sequor_hold_data_mutex", {DeviceKey(session_)}));
  ASSERT_TRUE(holder.Expect("held"));

  // Each call waits out the 5000 ms; side by side they take that once.
  uint32_t getResult = 0, apiQuery = 0, exchange = 0, xfsQuery = 0;
  std::thread a([&] {
    char buffer[64];
    uint32_t length, result;
    getResult = SEQUOR_GetResult(session_, buffer, sizeof buffer, &length, &result);
  });
  std::thread c([&] { apiQuery = SEQUOR_IsApiLocked(session_); });
  std::thread d([&] { exchange = Run(session_, "C11", nullptr); });
  std::thread e([&] { xfsQuery = SEQUOR_IsXfsLocked(session_); });
  for (std::thread* t : {&a, &c, &d, &e}) t->join();
  EXPECT_EQ(getResult, SEQUOR_TIMEOUT);
  EXPECT_EQ(apiQuery, SEQUOR_TIMEOUT);
  EXPECT_EQ(exchange, SEQUOR_TIMEOUT) << "the command went out but could not be stored";
  EXPECT_EQ(xfsQuery, SEQUOR_LOCKED_BY_OTHER) << "the XFS query knows only 0, 20 and 21";

  holder.WriteLine("release");
  EXPECT_EQ(holder.Wait(), 0);
  std::string stored;
  EXPECT_EQ(Stored(session_, &stored), SEQUOR_SUCCESS);
  EXPECT_EQ(stored, first) << "nothing was stored while the mutex was held";
  // The unread answer to C11 is drained by the next exchange.
  std::string response;
  ASSERT_EQ(Run(session_, "C10", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response.substr(0, 3), "P10");
  EXPECT_EQ(SEQUOR_IsXfsLocked(session_), SEQUOR_SUCCESS);
}

TEST_F(SerialSession, TraceLinesOfAWholeSession) {
  ASSERT_EQ(SEQUOR_Close(session_), SEQUOR_SUCCESS);
  session_ = nullptr;
  q7mtest::WriteFile(dir_ + "/SCRIBEL.INI", "[SCRIBEL]\nFILEPATH=" + dir_ +
                                                "\nFILENAME=trace.log\nRECORDLENGTH=200\n"
                                                "MAXRECORD=2000\nFILEFLUSH=OFF\n"
                                                "[SEQUOR]\nTRACE=0xFFFFFFFF\n");
  ChildProcess traced;
  ASSERT_TRUE(traced.Start("sequor_traced_session"));
  ASSERT_EQ(traced.Wait(), 0);

  const std::string ring = q7mtest::ReadFile(dir_ + "/trace.log");
  for (const char* line : {
           "SEQUOR: DLL Atached=0x",
           " Version 1.3.0.0, 2006/09/28",
           "SEQUOR:Entry MemObject_OpenSharedData COM3",
           "SEQUOR: Enter GetMutex  = 0x",
           "SEQUOR: Exit GetMutex",
           "SEQUOR: Enter FreeMutex = 0x",
           "SEQUOR: Exit FreeMutex",
           "SEQUOR:Entry ExecuteMain P1=0x",
           "Handle=0x00000000 EOT=0",
           "EOT=1",
           "SEQUOR:Exit ExecuteMain Q1=0x00000000 Q2=0x00000000 Q3=0x00000000",
           "SEQUOR:Entry Cancel P1=0x",
           "SEQUOR:WaitFor CancelEvent 0x00000102",
           "SEQUOR:Exit Cancel Q1=0x00000000",
           "SEQUOR:DLL Detached=0x",
       }) {
    EXPECT_NE(ring.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(ring.find("DEVICE BUSY"), std::string::npos);
}
