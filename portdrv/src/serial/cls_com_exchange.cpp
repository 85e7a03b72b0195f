// clsCom: the caller's side of an exchange. Send writes the command frame
// until the reader acknowledges it and asks for the response; Receive waits
// for the response frame, asking again (DLE ENQ) when it is faulty or late.
// All waits are on events together with the cancel event.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cls_com.h"
#include "encrypted_form.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"
#include "serial_frame.h"
#include "time_budget.h"

namespace q7m {

using namespace serial;

namespace {
constexpr uint32_t kDsrSettleMs = 50;
}  // namespace

void clsCom::SetState(uint32_t state, bool resetStateEvent) {
  std::lock_guard<std::mutex> port(portLock_);
  linkState_ = state;
  if (resetStateEvent) Q7M_ResetEvent(stateEvent_);
}

uint32_t clsCom::DsrCheck() {
  std::lock_guard<std::mutex> port(portLock_);
  if (checkDsr_) {
    if (!DsrPresent(deviceHandle_)) {
      dsrSeen_ = false;
      Q7M_ResetEvent(dsrEvent_);
      return kPdRemoved;
    }
    if (!dsrSeen_) {
      // A reader that has just raised DSR gets a moment to settle.
      Q7M_Sleep(kDsrSettleMs);
      dsrSeen_ = true;
    }
  }
  Q7M_SetEvent(dsrEvent_);
  return kPdOk;
}

uint32_t clsCom::WaitForDsr(uint32_t timeLimit) {
  const Q7M_HANDLE handles[2] = {dsrEvent_, cancelEvent()};
  switch (Q7M_WaitForMultipleObjects(2, handles, 0, timeLimit)) {
    case Q7M_WAIT_OBJECT_0:
      return kPdOk;
    case Q7M_WAIT_OBJECT_0 + 1:
      return kPdCancelled;
    case Q7M_WAIT_TIMEOUT:
      return DsrCheck();
    default:
      return kPdSystemError;
  }
}

uint32_t clsCom::Write(const uint8_t* bytes, size_t count) {
  size_t done = 0;
  bool waited = false;
  while (done < count) {
    const ssize_t n = ::write(deviceHandle_, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The port's output queue is full: wait until it takes more, or until
      // the exchange is cancelled or the port closes.
      waited = true;
      const Q7M_HANDLE handles[3] = {writeReady_, cancelEvent(), stopEvent_};
      const uint32_t w = Q7M_WaitForMultipleObjects(3, handles, 0, Q7M_INFINITE);
      if (w == Q7M_WAIT_OBJECT_0) continue;
      if (w == Q7M_WAIT_OBJECT_0 + 1) return kPdCancelled;
      if (w == Q7M_WAIT_OBJECT_0 + 2) Q7M_SetLastError(Q7M_ERROR_OPERATION_ABORTED);
      break;
    }
    Q7M_SetLastErrorFromErrno();
    break;
  }
  if (done < count) {
    const uint32_t error = Q7M_GetLastError();
    {
      std::lock_guard<std::mutex> port(portLock_);
      LineErrorCheck(waited ? "Send" : "Write", false);
    }
    Q7M_SetLastError(error);
    return kPdSystemError;
  }
  if (LibraryTrace().IsOn(kTraceTransferDump))
    LibraryTrace().DumpTransfer(TransferDump::kSent, portName_.c_str(), bytes,
                                static_cast<uint32_t>(count));
  return kPdOk;
}

uint32_t clsCom::Send(const uint8_t* message, uint32_t length, SessionKeyRecord* key,
                      uint32_t timeLimit) {
  if (uint32_t r = IsCancel(); r != kPdOk) return r;
  // Written so that no length can wrap the sum round.
  if (length > kMaxSendMessage - 3) return kPdTooLong;
  if (LibraryTrace().IsOn(kTraceMessageDump))
    LibraryTrace().DumpMessage(MessageDump::kCommand, portName_.c_str(), message, length);

  // The end-of-transmission message is never encrypted: it must get
  // through whatever state the session is in.
  if (length > 0 && message[0] == 'E') return EndOfTransmissionSend(timeLimit);
  if (key == nullptr) return FrameSend(message, length, timeLimit);

  const size_t blocks = CipherBlocksFor(length);
  if (blocks * kCipherBlock + 1 > kMaxSendMessage) return kPdTooLong;
  uint8_t* payload = sendPayload_.get();
  payload[0] = kEncryptedMarker;
  BuildPlainBlockArea(message, length, payload + 1, kMaxSendMessage - 1);
  CryptoEngine* crypto = Crypto();
  if (crypto == nullptr) return SystemError(Q7M_ERROR_OUTOFMEMORY);
  if (uint32_t r = crypto->Encrypt(*key, payload + 1, blocks); r != kPdOk) return r;
  return FrameSend(payload, static_cast<uint32_t>(blocks * kCipherBlock + 1), timeLimit);
}

uint32_t clsCom::FrameSend(const uint8_t* message, uint32_t length, uint32_t timeLimit) {
  const size_t frameLength = BuildFrame(message, length, sendFrame_.get(), kSendFrameSize);
  if (frameLength == 0) return kPdTooLong;
  TimeBudget budget(timeLimit);
  uint32_t ackWait = timings_.receiveAckTimeout;
  if (uint32_t r = WaitForDsr(budget.left()); r != kPdOk) return r;

  for (;;) {
    budget.Update();
    SetState(kStateAwaitAck, true);
    if (uint32_t r = Write(sendFrame_.get(), frameLength); r != kPdOk) return r;
    budget.Update();
    if (ackWait > budget.left()) ackWait = budget.left();
    const Q7M_HANDLE handles[2] = {stateEvent_, cancelEvent()};
    const uint32_t w = Q7M_WaitForMultipleObjects(2, handles, 0, ackWait);
    budget.Update();
    if (w == Q7M_WAIT_OBJECT_0) {
      std::lock_guard<std::mutex> port(portLock_);
      if (linkState_ == kStateAcked) break;
    } else if (w == Q7M_WAIT_OBJECT_0 + 1) {
      return kPdCancelled;
    } else if (w != Q7M_WAIT_TIMEOUT) {
      return kPdSystemError;
    }
    // NAK, another event or no answer: send again while time is left. A
    // cancel that came together with an event must not cause a resend.
    if (Q7M_WaitForSingleObject(cancelEvent(), 0) == Q7M_WAIT_OBJECT_0) return kPdCancelled;
    if (budget.left() == 0) return kPdTimeout;
    if (uint32_t r = WaitForDsr(budget.left()); r != kPdOk) return r;
  }

  SetState(kStateAwaitResponse, true);
  static constexpr uint8_t kRequest[2] = {kDle, kEnq};
  const uint32_t r = Write(kRequest, sizeof kRequest);
  if (r != kPdOk) SetState(kStateIdle, false);
  lastSendTick_.store(Q7M_GetTickCount());
  return r;
}

uint32_t clsCom::EndOfTransmissionSend(uint32_t timeLimit) {
  if (uint32_t r = WaitForDsr(timeLimit); r != kPdOk) return r;
  SetState(kStateAwaitEotAnswer, true);
  static constexpr uint8_t kEndOfTransmission[2] = {kDle, kEot};
  const uint32_t r = Write(kEndOfTransmission, sizeof kEndOfTransmission);
  if (r != kPdOk) SetState(kStateIdle, false);
  lastSendTick_.store(Q7M_GetTickCount());
  return r;
}

uint32_t clsCom::Poll(uint32_t* waitLength) {
  PollStep step;
  {
    std::lock_guard<std::mutex> port(portLock_);
    step = PlanPoll(linkState_, Q7M_GetTickCount() - lastSendTick_.load(), timings_);
    linkState_ = step.next;
    if (step.resetStateEvent) Q7M_ResetEvent(stateEvent_);
  }
  if (step.setsWait) *waitLength = step.wait;
  if (step.send == PollStep::Send::kNothing) return kPdOk;

  if (uint32_t r = WaitForDsr(0); r != kPdOk) return r;
  static constexpr uint8_t kEnqRequest[2] = {kDle, kEnq};
  static constexpr uint8_t kEotRequest[2] = {kDle, kEot};
  const uint32_t r = Write(step.send == PollStep::Send::kEnq ? kEnqRequest : kEotRequest, 2);
  if (r != kPdOk) SetState(kStateIdle, false);
  lastSendTick_.store(Q7M_GetTickCount());
  return r;
}

uint32_t clsCom::ResponseWait(uint32_t timeLimit) {
  TimeBudget budget(timeLimit);
  uint32_t waitLength = timeLimit;
  do {
    if (uint32_t r = Poll(&waitLength); r != kPdOk) return r;
    budget.Update();
    const uint32_t wait = waitLength < budget.left() ? waitLength : budget.left();
    const Q7M_HANDLE handles[2] = {stateEvent_, cancelEvent()};
    const uint32_t w = Q7M_WaitForMultipleObjects(2, handles, 0, wait);
    budget.Update();
    if (w == Q7M_WAIT_OBJECT_0 || w == Q7M_WAIT_TIMEOUT) {
      std::lock_guard<std::mutex> port(portLock_);
      if (linkState_ == kStateResponseReady || linkState_ == kStateEotAnswered) {
        linkState_ = kStateIdle;
        return kPdOk;
      }
    } else if (w == Q7M_WAIT_OBJECT_0 + 1) {
      return kPdCancelled;
    } else {
      return kPdSystemError;
    }
  } while (budget.left() != 0);
  std::lock_guard<std::mutex> port(portLock_);
  return linkState_ == kStateResponseFaulty || linkState_ == kStateEotFaulty ? kPdLineFault
                                                                             : kPdTimeout;
}

uint32_t clsCom::Receive(uint8_t* buffer, uint32_t size, uint32_t* received, SessionKeyRecord* key,
                         uint32_t timeLimit) {
  if (uint32_t r = IsCancel(); r != kPdOk) return r;
  if (uint32_t r = ResponseWait(timeLimit); r != kPdOk) return r;

  uint32_t copied;
  {
    std::lock_guard<std::mutex> port(portLock_);
    const uint8_t* source = response_.get();
    uint32_t length = responseLength_;
    if (key != nullptr && length > 0 && source[0] == kEncryptedMarker) {
      if ((length - 1) % kCipherBlock != 0) return kPdMalformed;
      const size_t blocks = (length - 1) / kCipherBlock;
      // The plain length comes from the line and must lie inside the blocks.
      if (blocks == 0) return kPdMalformed;
      CryptoEngine* crypto = Crypto();
      if (crypto == nullptr) return SystemError(Q7M_ERROR_OUTOFMEMORY);
      if (uint32_t r = crypto->Decrypt(*key, response_.get() + 1, blocks); r != kPdOk) return r;
      const uint32_t plain = PlainLength(source + 1);
      if (plain > kMaxReceiveMessage) return kPdDecryptedTooLong;
      if (plain > blocks * kCipherBlock - 2) return kPdMalformed;
      source += 3;
      length = plain;
    }
    copied = length < size ? length : size;
    if (copied > 0) std::memcpy(buffer, source, copied);
    *received = copied;
  }
  if (LibraryTrace().IsOn(kTraceMessageDump))
    LibraryTrace().DumpMessage(MessageDump::kResponse, portName_.c_str(), buffer, copied);
  return kPdOk;
}

}  // namespace q7m
