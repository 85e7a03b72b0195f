#include "execute_engine.h"

#include <sys/prctl.h>

#include <algorithm>
#include <climits>
#include <new>

#include "sequor_errors.h"
#include "sequor_trace.h"

namespace q7m {

namespace {

// Large enough for any frame the port driver delivers: stale input read by
// the drain is thrown away whole.
constexpr int kDrainBufferSize = 4096;
constexpr int kDrainLimitMs = 1;
constexpr char kEndOfTransmission = 'E';
// Limits of the end-of-transmission exchange that ends an exchange left
// unfinished before a new one starts: the reader answers "E" at once, so
// these only bound the wait for a reader that does not.
constexpr int kUnfinishedSendLimitMs = 1000;
constexpr uint32_t kUnfinishedReceiveLimitMs = 2000;

enum class Step { kSend, kReceive };

// The drain's 1 ms wait is most of what an exchange costs beyond the
// reader's own time, and the kernel lets a timed wait end up to the
// thread's timer slack late (50 us by default): for the drain the slack is
// cut to the least there is, and the caller's thread gets its own back.
class TightTimerSlack {
 public:
  TightTimerSlack() : saved_(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)) {
    if (saved_ > 1) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  }
  ~TightTimerSlack() {
    if (saved_ > 1) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(saved_), 0, 0, 0);
  }
  TightTimerSlack(const TightTimerSlack&) = delete;
  TightTimerSlack& operator=(const TightTimerSlack&) = delete;

 private:
  int saved_;
};

bool IsEotCommand(const ExecuteRequest& request) {
  return request.commandLength == 1 && request.command[0] == kEndOfTransmission;
}

// Seconds to the port driver's milliseconds, in 32-bit arithmetic.
int Milliseconds(uint32_t seconds) {
  return static_cast<int>(seconds * 1000u);
}

// The service's result for a failed port-driver send or receive. A frame
// fault reported by a send is not a fault of the frame we sent.
uint32_t MapPortFailure(Step step, uint32_t code) {
  switch (code) {
    case PDLNK_INVALID_HANDLE:
    case PDLNK_TIMEOUT:
    case PDLNK_CANCELLED:
    case PDLNK_MESSAGE_TOO_LONG:
    case PDLNK_DEVICE_REMOVED:
    case PDLNK_LINE_FAULT:
      return code;
    case PDLNK_MALFORMED_RESPONSE:
    case PDLNK_DECRYPTED_TOO_LONG:
      return step == Step::kReceive ? code : SEQUOR_SYSTEM_ERROR;
    default:
      return SEQUOR_SYSTEM_ERROR;
  }
}

// What the exit trace line reports besides the result.
struct ExchangeOutcome {
  uint32_t result = SEQUOR_SUCCESS;
  uint32_t reportedError = 0;  // last error set after a port-driver failure
  uint32_t lastStore = 0;      // code of the last store into SharedData
};

// The failure path of a send or receive: map the code, clear the stored
// response, store the result and, after a cancellation, signal this
// session's cancel event.
void FailExchange(MemObject& memory, Step step, uint32_t code, ExchangeOutcome* out) {
  const uint32_t systemError = Q7M_GetLastError();
  if (step == Step::kSend) {
    Q7M_TRACE(kTraceExchangeFault, "SEQUOR:PDLNK_Send 0x%08X", code);
  } else {
    Q7M_TRACE(kTraceExchangeFault, "SEQUOR:PDLNK_Receive 0x%08X", code);
  }
  out->result = MapPortFailure(step, code);
  uint32_t lastError = out->result == SEQUOR_SYSTEM_ERROR ? systemError : code;

  Q7M_HANDLE cancelEvent = nullptr;
  if (code == PDLNK_CANCELLED) {
    const uint32_t r = memory.GetCancelEvent(&cancelEvent);
    if (r == SEQUOR_SUCCESS) {
      lastError = 0;
    } else {
      if (step == Step::kSend) {
        Q7M_TRACE(kTraceExchangeFault, "SEQUOR:GetCancelEvent in Send 0x%08X", r);
      } else {
        Q7M_TRACE(kTraceExchangeFault, "SEQUOR:GetCancelEvent in Receive 0x%08X", r);
      }
      out->result = r;
      lastError = r;
    }
  }

  out->lastStore = memory.SetResponseBuffer(nullptr, 0);
  if (out->lastStore != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceExchangeFault, "SEQUOR:SetResponseBuffer 0x%08X", out->lastStore);
    out->result = out->lastStore;
  }
  out->lastStore = memory.SetResult(out->result);
  if (out->lastStore != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceExchangeFault, "SEQUOR:SetResult 0x%08X", out->lastStore);
    out->result = out->lastStore;
  }
  // A cancel waits for this signal and then runs its end-of-transmission
  // exchange, whose "E" is stored as the device's last response. Signalled
  // before the two stores above, a cancelled exchange that is slow to reach
  // them would wipe that "E" and the result after it.
  if (cancelEvent != nullptr) Q7M_SetEvent(cancelEvent);
  out->reportedError = lastError;
  Q7M_SetLastError(lastError);
}

// Whether a received frame answers the command sent. The reader's answer
// echoes the command's code: "P" or "N", then the two code characters; the
// end-of-transmission command is answered by the one byte "E" alone. A frame
// starting with "E" is the cancel reply, which the reader may give to any
// command with anything after it: it is always this command's answer (the
// end-of-transmission step after an unfinished exchange has already taken
// the stale ones). A "P" or "N" frame echoing another code is the late answer
// to another command (a caller that was killed, timed out or cancelled),
// never this caller's. Commands whose answer cannot be told apart by its code
// (shorter than mark and code, or themselves beginning with "E"), an empty
// frame (reported as no answer) and a buffer too small to hold the echo are
// taken as they come.
bool AnswersCommand(const ExecuteRequest& request, bool eot, uint32_t received) {
  const char* answer = request.response;
  if (eot) return received == 1 && answer[0] == kEndOfTransmission;
  if (request.commandLength < 3 || request.command[0] == kEndOfTransmission ||
      request.responseCapacity < 3 || received == 0)
    return true;
  if (answer[0] == kEndOfTransmission) return true;
  if (received < 3) return false;
  if (answer[0] != 'P' && answer[0] != 'N') return false;
  return answer[1] == request.command[1] && answer[2] == request.command[2];
}

void TraceDroppedAnswer(const char* frame, uint32_t length) {
  const auto byte = [&](uint32_t i) {
    return i < length ? static_cast<unsigned>(static_cast<unsigned char>(frame[i])) : 0u;
  };
  Q7M_TRACE(kTraceExchangeFault, "SEQUOR:Answer To Another Command Dropped %02X %02X %02X L=0x%08X",
            byte(0), byte(1), byte(2), length);
}

// Milliseconds left of `limit` since `start` (32-bit tick arithmetic).
uint32_t LeftOf(uint32_t limit, uint32_t start) {
  const uint32_t spent = Q7M_GetTickCount() - start;
  return spent < limit ? limit - spent : 0;
}

// Receives into the caller's buffer until a frame answers the command, all
// within one time limit: frames that answer other commands are dropped, and
// the wait goes on for what is left of the limit. The count is bounded by
// the buffer whatever the port driver says.
uint32_t ReceiveAnswer(int port, const ExecuteRequest& request, bool eot, uint32_t* received) {
  const int capacity = static_cast<int>(std::min<uint32_t>(request.responseCapacity, INT_MAX));
  const uint32_t limit = static_cast<uint32_t>(Milliseconds(request.receiveTimeout));
  const uint32_t start = Q7M_GetTickCount();
  uint32_t left = limit;
  for (;;) {
    int got = 0;
    const uint32_t r =
        PDLNK_Receive(port, request.response, capacity, &got, static_cast<int>(left));
    *received = got <= 0 ? 0u : std::min(static_cast<uint32_t>(got), request.responseCapacity);
    *request.responseLength = *received;
    if (r != PDLNK_SUCCESS || AnswersCommand(request, eot, *received)) return r;
    // Before the reader's "E" comes the late answer of the command it ends:
    // expected there, and not worth a line.
    if (!eot) TraceDroppedAnswer(request.response, *received);
    *request.responseLength = 0;
    left = LeftOf(limit, start);
    if (left == 0) {
      *received = 0;
      return PDLNK_TIMEOUT;
    }
  }
}

// The exchange before this one was left unfinished: its caller was killed
// while waiting, or gave up waiting (time-out, cancel), so the reader may
// still be working on it and its answer may yet come, perhaps with the same
// code as this caller's command. The end-of-transmission exchange ends what
// the reader is doing; everything up to its "E" belongs to the old command.
// Nothing is stored: the caller's own exchange follows at once.
void EndUnfinishedExchange(int port, char* scratch, int capacity) {
  static const char kEotCommand[1] = {kEndOfTransmission};
  uint32_t r = PDLNK_Send(port, kEotCommand, 1, kUnfinishedSendLimitMs);
  const uint32_t start = Q7M_GetTickCount();
  uint32_t left = kUnfinishedReceiveLimitMs;
  while (r == PDLNK_SUCCESS) {
    int got = 0;
    r = PDLNK_Receive(port, scratch, capacity, &got, static_cast<int>(left));
    if (r == PDLNK_SUCCESS && got == 1 && scratch[0] == kEndOfTransmission) break;
    left = LeftOf(kUnfinishedReceiveLimitMs, start);
    if (r == PDLNK_SUCCESS && left == 0) r = PDLNK_TIMEOUT;
  }
  Q7M_TRACE(kTraceExchangeFault, "SEQUOR:EndUnfinishedExchange 0x%08X", r);
}

// Whether the reader may still answer after a failed send or receive.
bool AnswerMayFollow(uint32_t code) {
  return code == PDLNK_TIMEOUT || code == PDLNK_CANCELLED || code == PDLNK_LINE_FAULT;
}

void Exchange(const ExecuteRequest& request, bool eot, ExchangeOutcome* out) {
  DeviceSession& session = *request.session;
  MemObject& memory = *session.memory;
  char stale[kDrainBufferSize];

  // An end-of-transmission exchange itself ends whatever ran before.
  if (memory.BeginExchange() && !eot)
    EndUnfinishedExchange(session.port.load(), stale, kDrainBufferSize);

  // Drain: whatever is waiting (a late answer to a cancelled command, an
  // answer meant for another process sharing the reader) is not ours.
  int staleCount = 0;
  {
    TightTimerSlack tightDrain;
    while (PDLNK_Receive(session.port.load(), stale, kDrainBufferSize, &staleCount,
                         kDrainLimitMs) == PDLNK_SUCCESS) {
    }
  }

  // Nothing of an earlier exchange may look like this one's answer.
  *request.responseLength = 0;
  uint32_t r =
      PDLNK_Send(session.port.load(), request.command, static_cast<int>(request.commandLength),
                 Milliseconds(request.sendTimeout));
  if (r != PDLNK_SUCCESS) {
    memory.EndExchange(AnswerMayFollow(r));
    return FailExchange(memory, Step::kSend, r, out);
  }

  out->lastStore = memory.SetCommandBuffer(request.command, request.commandLength);
  if (out->lastStore != SEQUOR_SUCCESS) {
    // The command is out, and its answer will come to nobody.
    memory.EndExchange(true);
    Q7M_TRACE(kTraceExchangeFault, "SEQUOR:SetCommandBuffer 0x%08X", out->lastStore);
    out->result = out->lastStore;
    return;
  }

  uint32_t received = 0;
  r = ReceiveAnswer(session.port.load(), request, eot, &received);
  memory.EndExchange(r != PDLNK_SUCCESS && AnswerMayFollow(r));
  if (r != PDLNK_SUCCESS) return FailExchange(memory, Step::kReceive, r, out);

  out->lastStore = memory.SetResponseBuffer(request.response, received);
  if (out->lastStore != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceExchangeFault, "SEQUOR:SetResponseBuffer 0x%08X", out->lastStore);
    out->result = out->lastStore;
    return;
  }
  out->lastStore = memory.SetResult(eot ? SEQUOR_CANCELLED : SEQUOR_SUCCESS);
  if (out->lastStore != SEQUOR_SUCCESS) {
    // The exchange went through but its outcome is not recorded: that is
    // the caller's result, not a success.
    Q7M_TRACE(kTraceExchangeFault, "SEQUOR:SetResult 0x%08X", out->lastStore);
    out->result = out->lastStore;
    return;
  }
  // An empty frame is no answer, although the stored result says 0.
  out->result = received == 0 ? SEQUOR_DEVICE_REMOVED : SEQUOR_SUCCESS;
}

void Q7M_API AsyncWorker(void* argument) {
  auto* request = static_cast<ExecuteRequest*>(argument);
  DeviceSession* session = request->session;
  const Q7M_HANDLE completionEvent = request->completionEvent;
  ExecuteMain(*request);
  delete request;
  // The session is let go before the caller hears of the end: a caller that
  // closes the session as soon as its event is signalled must find it idle,
  // or the close would take the worker for a running exchange and cancel
  // the device under every other process that shares it. Nothing here
  // touches the session after this.
  sessions::Release(session);
  Q7M_SetEvent(completionEvent);
}

}  // namespace

uint32_t CheckExecuteArguments(const ExecuteRequest& request) {
  if (request.command == nullptr) return SEQUOR_INVALID_HANDLE;
  // A length the port driver's int cannot carry is no real command either.
  if (request.commandLength == 0 || request.commandLength > INT_MAX)
    return SEQUOR_INVALID_PARAMETER;
  if (request.response == nullptr) return SEQUOR_INVALID_HANDLE;
  if (request.responseCapacity == 0) return SEQUOR_INVALID_PARAMETER;
  if (request.responseLength == nullptr) return SEQUOR_INVALID_HANDLE;
  return SEQUOR_SUCCESS;
}

uint32_t ExecuteMain(const ExecuteRequest& request) {
  const bool eot = IsEotCommand(request);
  Q7M_TRACE(kTraceFlow, "SEQUOR:Entry ExecuteMain P1=0x%08X Handle=0x%08X EOT=%d",
            TraceWord(request.session->memory), TraceWord(request.completionEvent), eot ? 1 : 0);
  ExchangeOutcome outcome;
  Exchange(request, eot, &outcome);
  if (request.completionEvent == nullptr) {
    LastErrorKeeper keepLastError;
    Q7M_TRACE(kTraceFlow, "SEQUOR:Exit ExecuteMain Q1=0x%08X Q2=0x%08X Q3=0x%08X", outcome.result,
              outcome.reportedError, outcome.lastStore);
  }
  return outcome.result;
}

uint32_t StartAsyncExecute(const ExecuteRequest& request) {
  auto* copy = new (std::nothrow) ExecuteRequest(request);
  if (copy == nullptr) return SystemFailure(Q7M_ERROR_OUTOFMEMORY);
  (void)request.session->memory->SetResult(SEQUOR_ASYNC_STARTED);
  sessions::AddUser(request.session);
  if (!Q7M_StartThread(&AsyncWorker, copy)) {
    sessions::Release(request.session);
    delete copy;
    return SystemFailure(Q7M_ERROR_TOO_MANY_TCBS);
  }
  return SEQUOR_ASYNC_STARTED;
}

uint32_t CancelExchange(DeviceSession* session) {
  Q7M_TRACE(kTraceFlow, "SEQUOR:Entry Cancel P1=0x%08X", TraceWord(session));
  uint32_t r = PDLNK_CancelIO(session->port.load());
  if (r != PDLNK_SUCCESS) Q7M_TRACE(kTraceExchangeFault, "SEQUOR:CancelIO 0x%08X", r);

  // The cancelled exchange signals this event once the port driver has let
  // it go; only then is the port re-armed.
  Q7M_HANDLE cancelEvent = nullptr;
  (void)session->memory->GetCancelEvent(&cancelEvent);
  const uint32_t wait = Q7M_WaitForSingleObject(cancelEvent, 1000);
  Q7M_TRACE(kTraceExchangeFault, "SEQUOR:WaitFor CancelEvent 0x%08X", wait);

  r = PDLNK_ResetIO(session->port.load());
  if (r != PDLNK_SUCCESS) Q7M_TRACE(kTraceExchangeFault, "SEQUOR:ResetIO 0x%08X", r);

  static const char kEotCommand[1] = {kEndOfTransmission};
  char answer[16];
  uint32_t answerLength = 0;
  const ExecuteRequest eot{session,       kEotCommand,   1,  1,      answer,
                           sizeof answer, &answerLength, 20, nullptr};
  r = ExecuteMain(eot);
  if (r != SEQUOR_SUCCESS) Q7M_TRACE(kTraceExchangeFault, "SEQUOR:SendEOT 0x%08X", r);
  Q7M_TRACE(kTraceFlow, "SEQUOR:Exit Cancel Q1=0x%08X", r);
  return r;
}

}  // namespace q7m
