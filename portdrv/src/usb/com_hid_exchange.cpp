// ComHID: one command message out as one output report, one response in as
// one input report. The descriptor is non-blocking; a transfer that finds
// the device not ready waits for its readiness together with the cancel
// event and the time limit in one multiple-object wait.
#include <cstring>
#include <optional>

#include "com_hid.h"
#include "encrypted_form.h"
#include "hid_report.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"
#include "time_budget.h"

namespace q7m {

bool ComHID::WriteOnce(uint32_t* count) {
  if (!hid_.WriteReport(deviceHandle_, sendBuffer_.get(), sendBufferSize_, count)) return false;
  if (*count == sendBufferSize_) return true;
  // A report goes whole or not at all.
  Q7M_SetLastError(Q7M_ERROR_WRITE_FAULT);
  return false;
}

bool ComHID::ReadOnce(uint32_t* count) {
  return hid_.ReadReport(deviceHandle_, receiveBuffer_.get(), receiveBufferSize_, count) != 0;
}

// The descriptor is non-blocking, so no transfer is ever left pending in the
// kernel while this waits: the wait is for the device's readiness, and the
// transfer itself is attempted only once the wait has ended. A wait that ends
// by cancel or time limit therefore has no outstanding I/O to abort (the
// step that would cancel it, and its failure line, have nothing to do here);
// the one last attempt below stands for fetching the result of a transfer
// that completed just as the wait ended.
uint32_t ComHID::WaitFor(Q7M_HANDLE ready, uint32_t timeLimit, Transfer transfer, uint32_t* count) {
  TimeBudget budget(timeLimit);
  const Q7M_HANDLE handles[2] = {ready, cancelEvent()};
  for (;;) {
    const uint32_t wait = Q7M_WaitForMultipleObjects(2, handles, 0, budget.left());
    const uint32_t waitError = Q7M_GetLastError();
    if (wait == Q7M_WAIT_OBJECT_0) {
      Q7M_SwitchToThread();
      if ((this->*transfer)(count)) return kPdOk;
      // Readiness another user of the descriptor took first: wait on.
      if (Q7M_GetLastError() == Q7M_ERROR_IO_PENDING) {
        budget.Update();
        continue;
      }
      return kTransferFailed;
    }
    if (wait == Q7M_WAIT_TIMEOUT) Q7M_TRACE(kTraceHidInfo, "I:ComHID::WaitFor: Timeout");
    // The transfer may have become possible just as the wait ended.
    const bool done = (this->*transfer)(count);
    const uint32_t error = Q7M_GetLastError();
    Q7M_SwitchToThread();
    if (done) return kPdOk;
    if (error == Q7M_ERROR_IO_PENDING) {
      if (wait == Q7M_WAIT_OBJECT_0 + 1) return kPdCancelled;
      if (wait == Q7M_WAIT_TIMEOUT) return kPdTimeout;
      // The wait itself failed: that is a system failure, not a time-out.
      return SystemError(waitError);
    }
    Q7M_TRACE(kTraceHidError, "E:ComHID::WaitFor: ERROR_OPERATION_ABORTED(APIerror:%08X)", error);
    return OnErrorExists(kPdSystemError);
  }
}

uint32_t ComHID::Send(const uint8_t* message, uint32_t length, SessionKeyRecord* key,
                      uint32_t timeLimit) {
  if (uint32_t r = IsCancel(); r != kPdOk) {
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::Send: IsCancel Failure(%08X)", r);
    return r;
  }
  if (static_cast<uint64_t>(sendBufferSize_) < static_cast<uint64_t>(length) + kReportFraming) {
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::Send: Send data over");
    return kPdTooLong;
  }
  uint8_t* report = sendBuffer_.get();
  std::memset(report, 0, sendBufferSize_);
  if (LibraryTrace().IsOn(kTraceMessageDump))
    LibraryTrace().DumpMessage(MessageDump::kCommand, label_, message, length);

  // The end-of-transmission message travels plain whatever the mode.
  if (key != nullptr && (length == 0 || message[0] != 'E')) {
    const size_t blocks = BuildPlainBlockArea(message, length, report + 4, sendBufferSize_ - 4);
    if (blocks == 0) return kPdTooLong;
    CryptoEngine* crypto = Crypto();
    if (crypto == nullptr) return SystemError(Q7M_ERROR_OUTOFMEMORY);
    if (uint32_t r = crypto->Encrypt(*key, report + 4, blocks); r != kPdOk) return r;
    const uint32_t cipherLength = static_cast<uint32_t>(blocks * kCipherBlock);
    report[0] = ReportIdForLength(cipherLength + 4);
    PutBigEndian16(report + 1, cipherLength + 1);
    report[3] = kEncryptedMarker;
  } else {
    report[0] = ReportIdForLength(length + kReportHeader);
    PutBigEndian16(report + 1, length);
    if (length > 0) std::memcpy(report + kReportHeader, message, length);
  }
  return SendReport(timeLimit);
}

uint32_t ComHID::SendReport(uint32_t timeLimit) {
  uint32_t written = 0;
  if (!WriteOnce(&written)) {
    const uint32_t error = Q7M_GetLastError();
    if (error != Q7M_ERROR_IO_PENDING) {
      Q7M_TRACE(kTraceHidError, "E:ComHID::SendReport: WriteFile Failure(APIerror:%08X)", error);
      return OnErrorExists(kPdSystemError);
    }
    const uint32_t r = WaitFor(writeReady_, timeLimit, &ComHID::WriteOnce, &written);
    if (r == kTransferFailed) {
      Q7M_TRACE(kTraceHidError, "E:ComHID::SendReport: WriteFile Failure(APIerror:%08X)",
                Q7M_GetLastError());
      return OnErrorExists(kPdSystemError);
    }
    if (r != kPdOk) return r;
  }
  if (LibraryTrace().IsOn(kTraceTransferDump))
    LibraryTrace().DumpTransfer(TransferDump::kSent, label_, sendBuffer_.get(), written);
  return kPdOk;
}

uint32_t ComHID::Receive(uint8_t* buffer, uint32_t size, uint32_t* received, SessionKeyRecord* key,
                         uint32_t timeLimit) {
  *received = 0;
  if (uint32_t r = IsCancel(); r != kPdOk) {
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::Receive: IsCancel Failure(%08X)", r);
    return r;
  }
  uint32_t count = 0;
  if (uint32_t r = ReceiveReport(timeLimit, &count); r != kPdOk) {
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::Receive: ReceiveReport Failure(%08X)", r);
    return r;
  }
  // The session key's decryption of the cipher blocks in place.
  class KeyDecryptor final : public ReportDecryptor {
   public:
    KeyDecryptor(ComHID& device, SessionKeyRecord& key) : device_(device), key_(key) {}
    uint32_t Decrypt(uint8_t* blocks, size_t count) override {
      CryptoEngine* crypto = device_.Crypto();
      if (crypto == nullptr) return SystemError(Q7M_ERROR_OUTOFMEMORY);
      return crypto->Decrypt(key_, blocks, count);
    }

   private:
    ComHID& device_;
    SessionKeyRecord& key_;
  };
  std::optional<KeyDecryptor> decryptor;
  if (key != nullptr) decryptor.emplace(*this, *key);
  const InputReport input =
      TakeInputReport(receiveBuffer_.get(), count, decryptor ? &*decryptor : nullptr, buffer, size);
  switch (input.outcome) {
    case InputReportOutcome::kRaw:
      *received = input.received;
      Q7M_TRACE(kTraceHidInfo, "I:ComHID::Receive: Received ReportID=0(len=%08X)", input.received);
      return kPdOk;
    case InputReportOutcome::kPlain:
      break;
    case InputReportOutcome::kZeroLength:
      Q7M_TRACE(kTraceHidError, "E:ComHID::Receive: ReadLen is ZERO(APIerror:%08X)",
                Q7M_GetLastError());
      return kPdMalformed;
    case InputReportOutcome::kLengthOver:
      Q7M_TRACE(kTraceHidError, "E:ComHID::Receive: ReadLen is over(len=%08X)",
                BigEndian16(receiveBuffer_.get() + 1));
      return kPdMalformed;
    case InputReportOutcome::kDecryptFailed:
      return input.failure;
    case InputReportOutcome::kDecryptedTooLong:
      return kPdDecryptedTooLong;
    case InputReportOutcome::kTooShort:
    case InputReportOutcome::kCipherLength:
      return kPdMalformed;
  }
  *received = input.received;
  if (LibraryTrace().IsOn(kTraceMessageDump))
    LibraryTrace().DumpMessage(MessageDump::kResponse, label_, buffer, input.received);
  return kPdOk;
}

uint32_t ComHID::ReceiveReport(uint32_t timeLimit, uint32_t* count) {
  std::memset(receiveBuffer_.get(), 0, receiveBufferSize_);
  *count = 0;
  if (!ReadOnce(count)) {
    const uint32_t error = Q7M_GetLastError();
    if (error == Q7M_ERROR_IO_PENDING) {
      const uint32_t r = WaitFor(readReady_, timeLimit, &ComHID::ReadOnce, count);
      if (r == kTransferFailed) {
        Q7M_TRACE(kTraceHidError,
                  "E:ComHID::ReceiveReport: GetOverlappedResult Failure(APIerror:%08X)",
                  Q7M_GetLastError());
        return OnErrorExists(kPdSystemError);
      }
      if (r != kPdOk) {
        Q7M_TRACE(kTraceHidInfo, "I:ComHID::ReceiveReport: ReadFile Failure(APIerror:%08X)", r);
        return r;
      }
    } else if (error == Q7M_ERROR_DEVICE_NOT_CONNECTED) {
      Q7M_TRACE(kTraceHidError, "E:ComHID::ReceiveReport: Device is Removed(APIerror:%08X)", error);
      return kPdRemoved;
    } else {
      *count = 0;
    }
  }
  if (LibraryTrace().IsOn(kTraceTransferDump))
    LibraryTrace().DumpTransfer(TransferDump::kReceived, label_, receiveBuffer_.get(), *count);
  if (*count < 4) {
    Q7M_TRACE(kTraceHidError, "E:ComHID::ReceiveReport: Received data is Too Short(len=%08X)",
              *count);
    return kPdMalformed;
  }
  return kPdOk;
}

}  // namespace q7m
