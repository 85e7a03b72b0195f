// One command exchange against the scripted port driver: what is sent,
// drained, received and stored, how port-driver failures become results,
// the end-of-transmission command, asynchronous runs and the cancel.
#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <thread>

#include "scripted_session.h"

using fakepd::Receive;
using sequortest::Failure;
using sequortest::Frame;

namespace {

class Exchange : public sequortest::ScriptedSession {};

Q7M_HANDLE NewEvent() {
  return Q7M_CreateEvent(/*manualReset=*/1, /*initialState=*/0, nullptr);
}

}  // namespace

TEST_F(Exchange, SendsDrainsReceivesAndStoresEverything) {
  fakepd::Script script;
  script.stale = {"late answer", "another"};
  script.receives = {Frame("P10 status")};
  Open(script);

  std::string response;
  ASSERT_EQ(Run("C10", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "P10 status");

  const fakepd::Record record = fakepd::Recorded();
  EXPECT_EQ(record.drainCalls, 3) << "two stale frames, then the drain's time-out";
  ASSERT_EQ(record.sent.size(), 1u);
  EXPECT_EQ(record.sent[0], "C10");
  EXPECT_EQ(record.sendLimits, std::vector<int>{2000}) << "seconds become milliseconds";
  EXPECT_EQ(record.receiveLimits, std::vector<int>{3000});

  EXPECT_EQ(block_->command(), "C10");
  EXPECT_EQ(block_->response(), "P10 status");
  EXPECT_EQ(block_->result(), 0u);
  std::string stored;
  EXPECT_EQ(StoredResult(&stored), SEQUOR_SUCCESS);
  EXPECT_EQ(stored, "P10 status");
}

TEST_F(Exchange, TheDrainWaitsWithTheLeastTimerSlackAndTheCallerGetsItsOwnBack) {
  fakepd::Script script;
  script.stale = {"late answer"};
  script.receives = {Frame("P10 status")};
  Open(script);
  constexpr long kCallersSlack = 123456;  // nanoseconds
  ASSERT_EQ(prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(kCallersSlack), 0, 0, 0), 0);

  std::string response;
  const uint32_t result = Run("C10", &response);
  const long after = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);  // the thread's default again
  ASSERT_EQ(result, SEQUOR_SUCCESS);

  const fakepd::Record record = fakepd::Recorded();
  EXPECT_EQ(record.drainSlacks, (std::vector<long>{1, 1}));
  EXPECT_EQ(record.receiveSlacks, std::vector<long>{kCallersSlack})
      << "the answer's wait is the caller's own";
  EXPECT_EQ(after, kCallersSlack);
}

TEST_F(Exchange, ArgumentsAreCheckedInOrderBeforeAnythingHappens) {
  char response[8];
  uint32_t length = 0;
  EXPECT_EQ(SEQUOR_Execute(handle_, nullptr, 0, 1, response, 8, &length, 1, nullptr),
            SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_Execute(handle_, "C10", 0, 1, nullptr, 8, &length, 1, nullptr),
            SEQUOR_INVALID_PARAMETER);
  EXPECT_EQ(SEQUOR_Execute(handle_, "C10", 3, 1, nullptr, 0, &length, 1, nullptr),
            SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_Execute(handle_, "C10", 3, 1, response, 0, nullptr, 1, nullptr),
            SEQUOR_INVALID_PARAMETER);
  EXPECT_EQ(SEQUOR_Execute(handle_, "C10", 3, 1, response, 8, nullptr, 1, nullptr),
            SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_Execute(handle_, "C10", 0x80000000u, 1, response, 8, &length, 1, nullptr),
            SEQUOR_INVALID_PARAMETER);
  EXPECT_EQ(SEQUOR_Execute(nullptr, "C10", 3, 1, response, 8, &length, 1, nullptr),
            SEQUOR_INVALID_HANDLE);
  int notASession = 0;
  EXPECT_EQ(SEQUOR_Execute(reinterpret_cast<SEQUOR_HANDLE>(&notASession), "C10", 3, 1, response, 8,
                           &length, 1, nullptr),
            SEQUOR_INVALID_HANDLE);
  const fakepd::Record record = fakepd::Recorded();
  EXPECT_TRUE(record.sent.empty());
  EXPECT_EQ(record.drainCalls, 0);
}

// How each port-driver failure of a send and of a receive comes back, what
// is stored, and which last error is left.
struct FailureCase {
  uint32_t portCode;
  uint32_t afterSend;
  uint32_t afterReceive;
};

class ExchangeFailure : public sequortest::ScriptedSession,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExchangeFailure, IsMappedStoredAndLeftAsLastError) {
  constexpr uint32_t kSystemError = 0x1F;
  const FailureCase c = GetParam();
  for (const bool inSend : {true, false}) {
    SCOPED_TRACE(inSend ? "send" : "receive");
    fakepd::Script script;
    if (inSend) {
      script.sendResults = {c.portCode};
      script.sendLastError = kSystemError;
    } else {
      script.receives = {Failure(c.portCode, kSystemError)};
    }
    Open(script);
    ASSERT_EQ(SEQUOR_SetResult(handle_, 99), SEQUOR_SUCCESS);
    block_->SetWord(3352, 5);  // a response of the previous exchange

    const uint32_t expected = inSend ? c.afterSend : c.afterReceive;
    std::string response;
    EXPECT_EQ(Run("C10", &response), expected);
    const uint32_t lastError = Q7M_GetLastError();
    EXPECT_EQ(block_->result(), expected);
    EXPECT_EQ(block_->responseLength(), 0u) << "a failed exchange leaves no response";
    EXPECT_EQ(block_->command(), inSend ? "" : "C10") << "only a sent command is stored";
    if (expected == SEQUOR_SYSTEM_ERROR) {
      EXPECT_EQ(lastError, kSystemError) << "the system's error stays";
    } else if (expected == SEQUOR_CANCELLED) {
      EXPECT_EQ(lastError, 0u);
      Q7M_HANDLE cancelEvent = nullptr;
      ASSERT_EQ(memory().GetCancelEvent(&cancelEvent), SEQUOR_SUCCESS);
      EXPECT_EQ(Q7M_WaitForSingleObject(cancelEvent, 0), Q7M_WAIT_OBJECT_0)
          << "a cancelled exchange signals the session's cancel event";
    } else {
      EXPECT_EQ(lastError, c.portCode);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    PortDriverCodes, ExchangeFailure,
    ::testing::Values(FailureCase{1, 1, 1}, FailureCase{2, 2, 2}, FailureCase{3, 3, 3},
                      FailureCase{4, 4, 4}, FailureCase{5, 1000, 5}, FailureCase{6, 1000, 6},
                      FailureCase{7, 7, 7}, FailureCase{13, 13, 13}, FailureCase{8, 1000, 1000},
                      FailureCase{11, 1000, 1000}, FailureCase{1000, 1000, 1000}),
    [](const auto& info) { return "code" + std::to_string(info.param.portCode); });

TEST_F(Exchange, ResponseLongerThanTheStoredAreaReachesTheCallerWhole) {
  std::string frame(1500, 'x');
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<char>('a' + i % 26);
  frame.replace(0, 3, "P10");  // the answer echoes its command
  fakepd::Script script;
  script.receives = {Frame(frame)};
  Open(script);

  std::string response;
  ASSERT_EQ(Run("C10", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, frame);
  EXPECT_EQ(block_->responseLength(), 1024u);
  EXPECT_EQ(block_->response(), frame.substr(0, 1024));
  EXPECT_EQ(block_->Word(3356), 0u) << "nothing written past the response area";

  // The stored copy comes back bounded by the caller's capacity.
  char small[12];
  std::memset(small, '#', sizeof small);
  uint32_t length = 0, result = 7;
  ASSERT_EQ(SEQUOR_GetResult(handle_, small, 10, &length, &result), SEQUOR_SUCCESS);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(std::string(small, 12), frame.substr(0, 10) + "##");
  EXPECT_EQ(SEQUOR_GetResult(handle_, nullptr, 10, &length, &result), SEQUOR_INVALID_HANDLE);
}

TEST_F(Exchange, EmptyResponseIsAFailureAlthoughTheStoredResultIsZero) {
  fakepd::Script script;
  script.receives = {Frame("")};
  Open(script);
  std::string response = "unchanged";
  EXPECT_EQ(Run("C10", &response), SEQUOR_DEVICE_REMOVED);
  EXPECT_EQ(response, "");
  std::string stored = "unchanged";
  EXPECT_EQ(StoredResult(&stored), SEQUOR_SUCCESS);
  EXPECT_EQ(stored, "");
}

TEST_F(Exchange, EndOfTransmissionWaitsForTheReadersE) {
  fakepd::Script script;
  script.receives = {Frame("P10"), Frame("EE"), Frame("E"), Frame("E1 ordinary"),
                     Failure(PDLNK_TIMEOUT)};
  Open(script);

  std::string response;
  EXPECT_EQ(Run("E", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "E") << "answers before the reader's E are discarded";
  EXPECT_EQ(fakepd::Recorded().receiveLimits.size(), 3u) << "all within the one limit";
  EXPECT_EQ(StoredResult(), SEQUOR_CANCELLED);
  EXPECT_EQ(block_->command(), "E");

  // Two bytes beginning with E are an ordinary command: one receive.
  EXPECT_EQ(Run("E1", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "E1 ordinary");
  EXPECT_EQ(StoredResult(), SEQUOR_SUCCESS);

  // A receive failure ends the loop.
  EXPECT_EQ(Run("E", &response), SEQUOR_PORT_TIMEOUT);
  EXPECT_EQ(StoredResult(), SEQUOR_PORT_TIMEOUT);
}

TEST_F(Exchange, AnswersToOtherCommandsAreDroppedWithinTheOneTimeLimit) {
  fakepd::Script script;
  // Late answers of other callers: another code, a frame too short to echo
  // anything; then this command's answer.
  script.receives = {
      Frame("PL000 levels"), Frame("PM"),  Frame("PM000 counters"), Frame("NM002"), Frame("E"),
      Frame("EL0 anything"), Frame("PL0"), Failure(PDLNK_TIMEOUT),  Frame("E"),     Frame("xyz")};
  Open(script);

  std::string response;
  ASSERT_EQ(Run("CM0", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "PM000 counters");
  EXPECT_EQ(block_->response(), "PM000 counters");
  std::vector<int> limits = fakepd::Recorded().receiveLimits;
  ASSERT_EQ(limits.size(), 3u);
  for (size_t i = 1; i < limits.size(); ++i)
    EXPECT_LE(limits[i], limits[i - 1]) << "what is left of the limit, never a fresh one";
  EXPECT_LE(limits[0], 3000);

  // A negative answer echoes the code too. The cancel reply may answer any
  // command, alone or with anything after it (even another code): it is
  // always this command's.
  EXPECT_EQ(Run("CM0", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "NM002");
  EXPECT_EQ(Run("CM0", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "E");
  EXPECT_EQ(Run("CM0", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "EL0 anything");

  // Nothing but a stale answer: the limit runs out as a time-out, and the
  // caller is handed nothing.
  EXPECT_EQ(Run("CM0", &response), SEQUOR_PORT_TIMEOUT);
  EXPECT_EQ(response, "");
  EXPECT_EQ(StoredResult(), SEQUOR_PORT_TIMEOUT);

  // A command too short to carry a code takes what comes (after the reader's
  // "E" has ended the exchange that went unanswered).
  EXPECT_EQ(Run("C1", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "xyz");
}

TEST_F(Exchange, ExchangeAfterOneLeftUnansweredFirstEndsItWithTheEndOfTransmission) {
  fakepd::Script script;
  script.receives = {Frame("P10"), Failure(PDLNK_TIMEOUT), Frame("PL0 late"),
                     Frame("E"),   Frame("PL0 fresh"),     Frame("PL0 again")};
  Open(script);

  ASSERT_EQ(Run("C10"), SEQUOR_SUCCESS);
  EXPECT_EQ(Run("CL0"), SEQUOR_PORT_TIMEOUT);
  std::string response;
  ASSERT_EQ(Run("CL0", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "PL0 fresh") << "the late answer of the same code went with the reader's E";
  ASSERT_EQ(Run("CL0", &response), SEQUOR_SUCCESS);
  EXPECT_EQ(response, "PL0 again");
  EXPECT_EQ(fakepd::Recorded().sent, (std::vector<std::string>{"C10", "CL0", "E", "CL0", "CL0"}))
      << "only the exchange after the unanswered one ends it first";
  // The end of the old exchange stores nothing of its own.
  EXPECT_EQ(block_->command(), "CL0");
}

TEST_F(Exchange, SetResultClearsTheStoredResponse) {
  fakepd::Script script;
  script.receives = {Frame("P10")};
  Open(script);
  ASSERT_EQ(Run("C10"), SEQUOR_SUCCESS);
  ASSERT_EQ(SEQUOR_SetResult(handle_, 0xC1000000u), SEQUOR_SUCCESS);
  std::string stored = "unchanged";
  EXPECT_EQ(StoredResult(&stored), 0xC1000000u);
  EXPECT_EQ(stored, "");
  EXPECT_EQ(SEQUOR_SetResult(nullptr, 1), SEQUOR_INVALID_HANDLE);
}

TEST_F(Exchange, StoreThatCannotTakeTheDataMutexBecomesTheResult) {
  fakepd::Script script;
  script.receives = {Frame("P10")};
  Open(script);
  // Another thread holds the data mutex past the 5000 ms limit.
  Q7M_HANDLE held = nullptr;
  Q7M_HANDLE release = NewEvent();
  Q7M_HANDLE taken = NewEvent();
  std::thread holder([&] {
    ASSERT_EQ(memory().GetMutex(&held), SEQUOR_SUCCESS);
    Q7M_SetEvent(taken);
    Q7M_WaitForSingleObject(release, 20000);
    memory().FreeMutex(held);
  });
  ASSERT_EQ(Q7M_WaitForSingleObject(taken, 5000), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Run("C10"), SEQUOR_TIMEOUT);
  Q7M_SetEvent(release);
  holder.join();
  EXPECT_EQ(fakepd::Recorded().sent.size(), 1u);
  EXPECT_TRUE(fakepd::Recorded().receiveLimits.empty()) << "the exchange is not carried on";
  EXPECT_EQ(block_->commandLength(), 0u);
  Q7M_CloseHandle(release);
  Q7M_CloseHandle(taken);
}

TEST_F(Exchange, AsynchronousRunSignalsItsEventAndStoresTheOutcome) {
  fakepd::Script script;
  script.receives = {Frame("P10")};
  Receive slow = Frame("P11 new");
  slow.waitForGo = true;
  script.receives.push_back(slow);
  Open(script);
  ASSERT_EQ(Run("C10"), SEQUOR_SUCCESS);

  Q7M_HANDLE done = NewEvent();
  char response[64];
  uint32_t length = 0;
  ASSERT_EQ(SEQUOR_Execute(handle_, "C11", 3, 1, response, sizeof response, &length, 5, done),
            SEQUOR_ASYNC_STARTED);
  ASSERT_TRUE(fakepd::WaitUntilBlocked());
  std::string stored;
  EXPECT_EQ(StoredResult(&stored), SEQUOR_ASYNC_STARTED);
  EXPECT_EQ(stored, "P10") << "the previous exchange's response, while the new one runs";
  EXPECT_EQ(Q7M_WaitForSingleObject(done, 0), Q7M_WAIT_TIMEOUT);

  fakepd::Go();
  ASSERT_EQ(Q7M_WaitForSingleObject(done, 10000), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(std::string(response, length), "P11 new");
  EXPECT_EQ(StoredResult(&stored), SEQUOR_SUCCESS);
  EXPECT_EQ(stored, "P11 new");
  Q7M_CloseHandle(done);
}

TEST_F(Exchange, AsynchronousFailureIsLearntFromTheStoredResult) {
  fakepd::Script script;
  script.sendResults = {PDLNK_DEVICE_REMOVED};
  Open(script);
  Q7M_HANDLE done = NewEvent();
  char response[16];
  uint32_t length = 0;
  ASSERT_EQ(SEQUOR_Execute(handle_, "C10", 1, 1, response, sizeof response, &length, 1, done),
            SEQUOR_ASYNC_STARTED);
  ASSERT_EQ(Q7M_WaitForSingleObject(done, 10000), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(StoredResult(), SEQUOR_DEVICE_REMOVED);
  Q7M_CloseHandle(done);
}

TEST_F(Exchange, CloseDuringAnAsynchronousRunWaitsForItsWorker) {
  Receive stuck;
  stuck.waitForCancel = true;
  fakepd::Script script;
  script.receives = {stuck};
  Open(script);
  Q7M_HANDLE done = NewEvent();
  char response[16];
  uint32_t length = 0;
  ASSERT_EQ(SEQUOR_Execute(handle_, "C10", 3, 1, response, sizeof response, &length, 30, done),
            SEQUOR_ASYNC_STARTED);
  ASSERT_TRUE(fakepd::WaitUntilBlocked());
  EXPECT_EQ(SEQUOR_Close(handle_), SEQUOR_SUCCESS);
  // The close interrupted the exchange (it does not wait out the 30 s) and
  // the worker, which had let the session go, still signals its caller.
  EXPECT_EQ(Q7M_WaitForSingleObject(done, 10000), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(fakepd::Recorded().cancelCalls, 1);
  EXPECT_EQ(SEQUOR_IsXfsLocked(handle_), SEQUOR_INVALID_HANDLE);
  handle_ = nullptr;
  Q7M_CloseHandle(done);
}

TEST_F(Exchange, CloseRightAfterTheCompletionEventCancelsNothing) {
  // The port driver's cancel acts on the whole device, every process that
  // shares it included: closing a session whose exchange has ended must
  // not look like closing one whose exchange still runs.
  fakepd::Script script;
  script.receives = {Frame("P10")};
  Open(script);
  Q7M_HANDLE done = NewEvent();
  char response[16];
  uint32_t length = 0;
  ASSERT_EQ(SEQUOR_Execute(handle_, "C10", 3, 1, response, sizeof response, &length, 5, done),
            SEQUOR_ASYNC_STARTED);
  ASSERT_EQ(Q7M_WaitForSingleObject(done, 10000), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(SEQUOR_Close(handle_), SEQUOR_SUCCESS);
  handle_ = nullptr;
  const fakepd::Record record = fakepd::Recorded();
  EXPECT_EQ(record.cancelCalls, 0);
  EXPECT_EQ(record.resetCalls, 0);
  Q7M_CloseHandle(done);
}

TEST_F(Exchange, CancelEndsAWaitingExchangeWithTheEndOfTransmission) {
  Receive stuck;
  stuck.waitForCancel = true;
  fakepd::Script script;
  script.receives = {stuck, Frame("E")};
  Open(script);

  // By the time the cancel re-arms the port, the cancelled exchange has
  // stored its outcome: nothing of it can land on the end-of-transmission
  // exchange's stores that follow.
  uint32_t resultAtReset = 0xFFFFFFFFu;
  uint32_t responseLengthAtReset = 0xFFFFFFFFu;
  fakepd::OnReset([&] {
    resultAtReset = block_->result();
    responseLengthAtReset = block_->responseLength();
  });
  block_->SetWord(3352, 5);  // a response of an earlier exchange

  uint32_t exchangeResult = 0xFFFFFFFFu;
  std::thread exchange([&] { exchangeResult = Run("C10", nullptr, 30); });
  ASSERT_TRUE(fakepd::WaitUntilBlocked());
  EXPECT_EQ(SEQUOR_Cancel(handle_), SEQUOR_SUCCESS);
  EXPECT_EQ(resultAtReset, SEQUOR_CANCELLED);
  EXPECT_EQ(responseLengthAtReset, 0u);
  exchange.join();
  EXPECT_EQ(exchangeResult, SEQUOR_CANCELLED);

  std::string stored;
  EXPECT_EQ(StoredResult(&stored), SEQUOR_CANCELLED);
  EXPECT_EQ(stored, "E");
  EXPECT_EQ(block_->command(), "E");
  const fakepd::Record record = fakepd::Recorded();
  EXPECT_EQ(record.cancelCalls, 1);
  EXPECT_EQ(record.resetCalls, 1);
  EXPECT_EQ(record.sent, (std::vector<std::string>{"C10", "E"}));
  EXPECT_EQ(record.sendLimits.back(), 1000);
  EXPECT_EQ(record.receiveLimits.back(), 20000);
  // The cancel's wait consumed the exchange's signal.
  Q7M_HANDLE cancelEvent = nullptr;
  ASSERT_EQ(memory().GetCancelEvent(&cancelEvent), SEQUOR_SUCCESS);
  EXPECT_EQ(Q7M_WaitForSingleObject(cancelEvent, 0), Q7M_WAIT_TIMEOUT);
}

TEST_F(Exchange, CancelWithNothingRunningStillSendsTheEndOfTransmission) {
  fakepd::Script script;
  script.receives = {Frame("P late"), Frame("E"), Failure(PDLNK_TIMEOUT)};
  Open(script);
  EXPECT_EQ(SEQUOR_Cancel(handle_), SEQUOR_SUCCESS);
  EXPECT_EQ(StoredResult(), SEQUOR_CANCELLED);
  // When the reader does not answer, the cancel says so.
  EXPECT_EQ(SEQUOR_Cancel(handle_), SEQUOR_PORT_TIMEOUT);
  EXPECT_EQ(SEQUOR_Cancel(nullptr), SEQUOR_INVALID_HANDLE);
}
