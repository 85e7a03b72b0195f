// The API library through its public header on an emulated reader, on the
// serial and the USB link: the frame's results, the busy rules of the
// dispatcher, the raw command, the cancel and the stored results.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

#include "q7m/sequor.h"
#include "rdax_sim_fixture.h"

namespace rdaxsim {
namespace {

SEQUOR_HANDLE Session(const RDAX* handle) {
  return reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
}

using ResultsOnSim = RdaxOnSim;

TEST_P(ResultsOnSim, ANewHandleHasResultZero) {
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
}

TEST_P(ResultsOnSim, NullHandleIsRefusedAndStoresNothing) {
  // Something to be overwritten, were anything stored.
  ASSERT_EQ(RDAX_SendCommand(handle_, "E", 1, 1, nullptr, 0, nullptr, 1, nullptr),
            RDAX_E_PARAMETER);
  ASSERT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);

  char response[64];
  uint32_t length = 0;
  RDAX_STATUS status{};
  EXPECT_EQ(RDAX_SendCommand(nullptr, "C10", 3, 2, response, sizeof response, &length, 5, nullptr),
            RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_GetStatus(nullptr, &status, nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_ReadMagTrack(nullptr, 7, nullptr, nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_GetResult(nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_Cancel(nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_CloseDevice(nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_ResetDevice(nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_LogErrorData(nullptr, "text"), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);
}

TEST_P(ResultsOnSim, RawCommandLeavesTheReadersRefusalInTheCallersBuffer) {
  std::string response;
  EXPECT_EQ(Send("CZZ", &response), RDAX_OK);
  EXPECT_EQ(response, "NZZ00");
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK) << "the transport's result is what is stored";

  EXPECT_EQ(Send("C10", &response), RDAX_OK);
  EXPECT_EQ(response.substr(0, 3), "P10");
}

TEST_P(ResultsOnSim, RawCommandRefusesAMissingOrEmptyCommandWithoutStoringIt) {
  char response[64];
  uint32_t length = 0;
  EXPECT_EQ(
      RDAX_SendCommand(handle_, nullptr, 3, 2, response, sizeof response, &length, 5, nullptr),
      RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_SendCommand(handle_, "C10", 0, 2, response, sizeof response, &length, 5, nullptr),
            RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
}

TEST_P(ResultsOnSim, StoredRefusalsAndCancelRepliesAreEvaluatedByGetResult) {
  // The execution service keeps the reader's last response until a result
  // is stored over it; GetResult evaluates it.
  char response[64];
  uint32_t length = 0;
  ASSERT_EQ(
      SEQUOR_Execute(Session(handle_), "CZZ", 3, 2, response, sizeof response, &length, 5, nullptr),
      SEQUOR_SUCCESS);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_READER_COMMAND_00);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_READER_COMMAND_00) << "reading stores nothing";

  ASSERT_EQ(
      SEQUOR_Execute(Session(handle_), "E", 1, 2, response, sizeof response, &length, 5, nullptr),
      SEQUOR_SUCCESS);
  ASSERT_EQ(std::string(response, length).substr(0, 1), "E");
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_CANCELLED);
}

TEST_P(ResultsOnSim, AFatalOutcomeIsStoredWhetherTheOperationRanHereOrOnAWorker) {
  // A download of a file that is not there fails with the system's error.
  const uint32_t expected = RDAX_F_SYSTEM;
  EXPECT_EQ(RDAX_ExecuteDownload(handle_, "firmware.bin", nullptr), expected);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RDAX_GetResult(handle_), expected);
  ASSERT_EQ(Send("C10"), RDAX_OK);
  Event done;
  EXPECT_EQ(RDAX_ExecuteDownload(handle_, "firmware.bin", done.get()), RDAX_I_ASYNC_STARTED);
  ASSERT_TRUE(done.Wait());
  EXPECT_EQ(RDAX_GetResult(handle_), expected);
  EXPECT_EQ(RDAX_ExecuteDownload(handle_, nullptr, nullptr), RDAX_E_NULL_ARGUMENT);
}

TEST_P(ResultsOnSim, AsynchronousCallSignalsItsEventAfterTheResultIsStored) {
  Event done;
  ASSERT_EQ(Send("C10", nullptr, done.get()), RDAX_I_ASYNC_STARTED);
  ASSERT_TRUE(done.Wait());
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
  EXPECT_EQ(std::string(asyncResponse_, asyncLength_).substr(0, 3), "P10");
  // The device is free at once.
  std::string response;
  EXPECT_EQ(Send("C11", &response), RDAX_OK);
}

TEST_P(ResultsOnSim, EveryOtherCallIsBusyWhileAnAsynchronousOneRuns) {
  HoldNextCommand();
  Event done;
  ASSERT_EQ(Send("CQ1", nullptr, done.get()), RDAX_I_ASYNC_STARTED);
  // Busy from the moment the call returned, before and after the reader got
  // the command.
  std::string response;
  EXPECT_EQ(Send("C10", &response), RDAX_E_BUSY);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_BUSY);
  ASSERT_TRUE(ReaderGot("CQ1"));
  EXPECT_EQ(Send("C10", &response), RDAX_E_BUSY);
  Event other;
  EXPECT_EQ(Send("C11", nullptr, other.get()), RDAX_E_BUSY);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_BUSY);
  EXPECT_FALSE(done.Signalled());

  ASSERT_EQ(RDAX_Cancel(handle_), RDAX_OK);
  ASSERT_TRUE(done.Wait());
  EXPECT_FALSE(other.Signalled()) << "a refused call never signals";
  EXPECT_NE(RDAX_GetResult(handle_), RDAX_E_BUSY);
  EXPECT_EQ(Send("C10", &response), RDAX_OK);
}

TEST_P(ResultsOnSim, CancelEndsARunningOperationWhoseResultIsStoredAfterTheCancels) {
  HoldNextCommand();
  Event done;
  ASSERT_EQ(Send("CQ2", nullptr, done.get()), RDAX_I_ASYNC_STARTED);
  ASSERT_TRUE(ReaderGot("CQ2"));
  EXPECT_EQ(RDAX_Cancel(handle_), RDAX_OK);
  ASSERT_TRUE(done.Wait());
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_CANCELLED);
}

TEST_P(ResultsOnSim, OfTwoAsynchronousCallsStartedAtOnceExactlyOneIsAccepted) {
  // The refused call stores "busy" as it returns; the accepted one stores its
  // own result when its answer arrives. The answer is a card status
  // monitoring that the reader holds until a card moves, so it cannot arrive
  // before both calls have returned, and the stored result is the accepted
  // call's.
  for (int round = 0; round < 20; ++round) {
    const long taken = sim_.process().Counter(reader(), "Commands");
    ASSERT_GE(taken, 0);
    Event first, second;
    char r1[64], r2[64];
    uint32_t l1 = 0, l2 = 0;
    std::atomic<int> ready{0};
    uint32_t a = 0, b = 0;
    auto call = [&](char* response, uint32_t* length, Q7M_HANDLE event, uint32_t* result) {
      ready.fetch_add(1);
      while (ready.load() < 2) std::this_thread::yield();
      *result = RDAX_SendCommand(handle_, "C9220", 5, 2, response, 64, length, 30, event);
    };
    // Whatever a failed check leaves behind, no worker may outlive this
    // round's buffers and events: an accepted call is cancelled and awaited.
    struct Settle {
      const RDAX* handle;
      const uint32_t& a;
      const uint32_t& b;
      const Event& first;
      const Event& second;
      ~Settle() {
        for (const auto& [result, event] : {std::pair{a, &first}, std::pair{b, &second}}) {
          if (result != RDAX_I_ASYNC_STARTED || event->Signalled()) continue;
          RDAX_Cancel(handle);
          event->Wait();
        }
      }
    } settle{handle_, a, b, first, second};
    std::thread t1(call, r1, &l1, first.get(), &a);
    std::thread t2(call, r2, &l2, second.get(), &b);
    t1.join();
    t2.join();
    ASSERT_TRUE((a == RDAX_I_ASYNC_STARTED && b == RDAX_E_BUSY) ||
                (b == RDAX_I_ASYNC_STARTED && a == RDAX_E_BUSY))
        << std::hex << a << " " << b << " in round " << round;
    ASSERT_GE(sim_.process().AwaitCounterAtLeast(reader(), "Commands", taken + 1), taken + 1);
    sim_.Control({round % 2 ? "remove" : "insert", reader()});
    ASSERT_TRUE((a == RDAX_I_ASYNC_STARTED ? first : second).Wait());
    ASSERT_EQ(RDAX_GetResult(handle_), RDAX_OK) << "in round " << round;
    const char* answer = a == RDAX_I_ASYNC_STARTED ? r1 : r2;
    EXPECT_EQ(std::string(answer, 3), "P92");
  }
}

TEST_P(ResultsOnSim, AClosedHandleIsRefusedAsAParameterNotReportedBusy) {
  ASSERT_EQ(RDAX_CloseDevice(handle_), RDAX_OK);
  const RDAX* closed = handle_;
  handle_ = nullptr;
  char response[64];
  uint32_t length = 0;
  Event done;
  EXPECT_EQ(RDAX_SendCommand(closed, "C10", 3, 2, response, sizeof response, &length, 5, nullptr),
            RDAX_E_PARAMETER);
  EXPECT_EQ(
      RDAX_SendCommand(closed, "C10", 3, 2, response, sizeof response, &length, 5, done.get()),
      RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(closed), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_CloseDevice(closed), RDAX_E_PARAMETER);
}

TEST_P(ResultsOnSim, LogErrorDataRefusesEmptyTextAndStoresItsResult) {
  EXPECT_EQ(RDAX_LogErrorData(handle_, ""), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_LogErrorData(handle_, nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_LogErrorData(handle_, "card jam at the gate"), RDAX_OK);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
}

TEST_P(ResultsOnSim, PortResetTakesNoLockAndStoresNothing) {
  HoldNextCommand();
  Event done;
  ASSERT_EQ(Send("CQ3", nullptr, done.get()), RDAX_I_ASYNC_STARTED);
  ASSERT_TRUE(ReaderGot("CQ3"));
  RDAX_Cancel(handle_);
  ASSERT_TRUE(done.Wait());
  const uint32_t before = RDAX_GetResult(handle_);
  EXPECT_EQ(RDAX_ResetDevice(handle_), RDAX_OK);
  EXPECT_EQ(RDAX_GetResult(handle_), before);
  std::string response;
  EXPECT_EQ(Send("C10", &response), RDAX_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, ResultsOnSim, ::testing::Values(Link::kSerial, Link::kUsb),
                         LinkName);

// Two handles of one process on the one reader: a USB reader is shared, a
// serial port is one handle's.
using SharedUsbReader = RdaxOnSim;

TEST_P(SharedUsbReader, ACancelBesideACallOfAnotherHandleOnTheSameReaderLeavesEachItsOwnOutcome) {
  // The cancel's end of transmission and the other handle's command meet on
  // the one reader, whose answer to that command comes late: neither may
  // take the other's answer, and the cancelled operation is reported so.
  const RDAX* other = OpenReader(GetParam());
  ASSERT_NE(other, nullptr) << "last error " << Q7M_GetLastError();
  HoldNextCommand();
  Event done;
  ASSERT_EQ(Send("CQ2", nullptr, done.get()), RDAX_I_ASYNC_STARTED);
  ASSERT_TRUE(ReaderGot("CQ2"));
  sim_.Control({"fault", reader(), "late", "ms=1500"});

  uint32_t cancelled = 0;
  std::thread cancel([&] { cancelled = RDAX_Cancel(handle_); });
  char response[64];
  uint32_t length = 0;
  const uint32_t sent =
      RDAX_SendCommand(other, "CUE", 3, 2, response, sizeof response, &length, 10, nullptr);
  cancel.join();
  ASSERT_TRUE(done.Wait());

  // The cancel got the reader's "E".
  EXPECT_EQ(cancelled, RDAX_OK);
  // The stored result is the reader's, shared by both handles: the
  // cancelled operation's, unless the other call ended after it.
  const uint32_t stored = RDAX_GetResult(handle_);
  EXPECT_TRUE(stored == RDAX_W_CANCELLED || stored == sent) << std::hex << stored;
  // The other call either ran and got its own answer, or was refused while
  // the cancelled operation still held the reader.
  if (sent == RDAX_OK) {
    ASSERT_GE(length, 3u);
    EXPECT_EQ(std::string(response, 3), "PUE");
  } else {
    EXPECT_EQ(sent, RDAX_E_BUSY);
  }
  // Both handles work on afterwards.
  sim_.Control({"fault", reader(), "clear", "late"});
  std::string answer;
  EXPECT_EQ(Send("C10", &answer), RDAX_OK);
  EXPECT_EQ(answer.substr(0, 3), "P10");
  length = 0;
  EXPECT_EQ(RDAX_SendCommand(other, "C11", 3, 2, response, sizeof response, &length, 10, nullptr),
            RDAX_OK);
  EXPECT_EQ(std::string(response, length < 3 ? length : 3), "P11");
  EXPECT_EQ(RDAX_CloseDevice(other), RDAX_OK);
}

TEST_P(SharedUsbReader, AnExchangeBesideAnotherSessionsWaitEndsWithinItsOwnLimits) {
  // The execution service's sessions, without the lock by which the API
  // library keeps operations apart: one waits for an answer that does not
  // come, and has the reader for as long as it waits. The other's exchange
  // gives up within its own time limits, its command never sent, instead of
  // waiting for the first one's limit.
  const RDAX* other = OpenReader(GetParam());
  ASSERT_NE(other, nullptr) << "last error " << Q7M_GetLastError();
  HoldNextCommand();
  Event done;
  char held[64];
  uint32_t heldLength = 0;
  ASSERT_EQ(SEQUOR_Execute(Session(handle_), "CQ2", 3, 2, held, sizeof held, &heldLength, 30,
                           done.get()),
            SEQUOR_ASYNC_STARTED);
  ASSERT_TRUE(ReaderGot("CQ2"));

  char response[64];
  uint32_t length = 0;
  EXPECT_EQ(
      SEQUOR_Execute(Session(other), "C10", 3, 1, response, sizeof response, &length, 1, nullptr),
      PDLNK_TIMEOUT);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(LastCommand(), "CQ2");

  EXPECT_EQ(SEQUOR_Cancel(Session(handle_)), SEQUOR_SUCCESS);
  ASSERT_TRUE(done.Wait());
  uint32_t result = 0;
  char stored[16];
  uint32_t storedLength = 0;
  ASSERT_EQ(SEQUOR_GetResult(Session(handle_), stored, sizeof stored, &storedLength, &result),
            SEQUOR_SUCCESS);
  EXPECT_EQ(result, SEQUOR_CANCELLED);
  std::string answer;
  EXPECT_EQ(Send("C10", &answer), RDAX_OK);
  EXPECT_EQ(answer.substr(0, 3), "P10");
  EXPECT_EQ(RDAX_CloseDevice(other), RDAX_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, SharedUsbReader, ::testing::Values(Link::kUsb), LinkName);

}  // namespace
}  // namespace rdaxsim
