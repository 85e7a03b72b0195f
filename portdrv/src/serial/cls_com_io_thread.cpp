// clsCom: the port's I/O thread. It sleeps until the port has bytes (or the
// port is stopped), runs the byte receiver over them under the port lock and
// tells the link state machine what it found. Line errors come from the
// kernel's error counters; a port that has gone away (hang-up, I/O error)
// is reported once and then no longer watched.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cls_com.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"

namespace q7m {

using namespace serial;

namespace {
// On a port with modem lines DSR is looked at this often: the kernel offers
// no readiness notification for modem lines that a wait could include (its
// modem-line wait blocks a thread of its own and cannot be stopped).
constexpr uint32_t kDsrRecheckMs = 100;
}  // namespace

uint32_t clsCom::LineErrorCheck(const char* label, bool withQueue) {
  uint32_t flags = counters_.ReadAndClear(deviceHandle_);
  if (ioErrorPending_) {
    flags |= kLineIoError;
    ioErrorPending_ = false;
  }
  if (flags == 0) return kEventNone;
  if (LibraryTrace().IsOn(kTraceLineError)) {
    if (withQueue) {
      const uint32_t queued =
          InputQueueCount(deviceHandle_) + static_cast<uint32_t>(chunkLength_ - chunkPos_);
      LibraryTrace().Write("E:%-6s Err=0x%02lX InQue=0x%02lX Stat=%s", portName_.c_str(),
                           TraceValue(flags), TraceValue(queued), label);
    } else {
      LibraryTrace().Write("E:%-6s Err=0x%02lX Stat=%s", portName_.c_str(), TraceValue(flags),
                           label);
    }
  }
  return LineErrorEvent(flags);
}

void clsCom::Notify(uint32_t event) {
  if (!running_.load(std::memory_order_relaxed)) return;
  const LinkTransition t = NextLinkState(linkState_, event);
  switch (t.action) {
    case LinkTransition::Action::kCopyFrame: {
      const size_t count = receiver_->dataCount();
      std::memcpy(response_.get(), receiver_->data(), count);
      responseLength_ = static_cast<uint32_t>(count);
      break;
    }
    case LinkTransition::Action::kEotResponse:
      response_[0] = 'E';
      responseLength_ = 1;
      break;
    case LinkTransition::Action::kNone:
      break;
  }
  linkState_ = t.next;
  if (t.signal) {
    lastEvent_ = event;
    Q7M_SetEvent(stateEvent_);
  }
}

// The receiver takes one byte at a time, but the port is read a chunk per
// system call; bytes past the end of a run stay in the chunk for the next
// run, as they would stay in the port's input queue.
clsCom::ReadResult clsCom::ReadByte(uint8_t* byte) {
  for (;;) {
    if (chunkPos_ < chunkLength_) {
      *byte = chunk_[chunkPos_++];
      return ReadResult::kByte;
    }
    if (!running_.load(std::memory_order_relaxed)) return ReadResult::kStopped;
    if (portGone_) return ReadResult::kSilence;
    const ssize_t n = ::read(deviceHandle_, chunk_, sizeof chunk_);
    if (n > 0) {
      chunkPos_ = 0;
      chunkLength_ = static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // Silence for the character interval ends the read (0: no limit, as
      // a port time-out of 0 means).
      const uint32_t limit = timings_.charInterval == 0 ? Q7M_INFINITE : timings_.charInterval;
      const Q7M_HANDLE handles[2] = {stopEvent_, readReady_};
      const uint32_t w = Q7M_WaitForMultipleObjects(2, handles, 0, limit);
      if (w == Q7M_WAIT_OBJECT_0) return ReadResult::kStopped;
      if (w == Q7M_WAIT_OBJECT_0 + 1) continue;
      if (w == Q7M_WAIT_TIMEOUT) return ReadResult::kSilence;
    }
    // End of file (hang-up) or a read error: the port has gone away.
    portGone_ = true;
    ioErrorPending_ = true;
    return ReadResult::kSilence;
  }
}

uint32_t clsCom::RunReceiver(bool discard, uint32_t code) {
  ByteReceiver& receiver = *receiver_;
  if (discard)
    receiver.StartDiscard(code);
  else
    receiver.StartHunt();
  uint32_t event = kEventNone;
  for (;;) {
    uint8_t byte;
    const ReadResult r = ReadByte(&byte);
    if (r == ReadResult::kStopped) break;
    if (r == ReadResult::kSilence) {
      event = receiver.OnSilence(*this);
      break;
    }
    event = receiver.Feed(byte, *this);
    if (event != kEventNone) break;
  }
  if (LibraryTrace().IsOn(kTraceTransferDump))
    LibraryTrace().DumpTransfer(TransferDump::kReceived, portName_.c_str(), receiver.raw(),
                                static_cast<uint32_t>(receiver.rawCount()));
  return event;
}

void clsCom::WatchDsrLine() {
  // Both edges count, as a port's DSR-change event does: a drop must reset
  // the DSR event at once, or a sender would go on writing to a reader that
  // is not ready and see a time-out instead of the answer "not ready".
  const bool present = DsrPresent(deviceHandle_);
  if (present == dsrLevel_) return;
  dsrLevel_ = present;
  if (DsrCheck() == kPdOk) OnDsrRaised();
}

void clsCom::OnDsrRaised() {
  std::lock_guard<std::mutex> port(portLock_);
  LineErrorCheck("DSR", false);
  // What came in while the reader was not ready is not a response.
  serial::DiscardInput(deviceHandle_);
  chunkPos_ = chunkLength_ = 0;
}

void clsCom::IoThreadMain() {
  // Watched also when the DSR setting is off: a change still clears what
  // came in meanwhile; only the check then always finds the reader ready.
  const bool dsrWatch = modemLines_;
  uint32_t lastDsrLook = Q7M_GetTickCount();
  while (running_.load(std::memory_order_relaxed)) {
    if (dsrWatch && Q7M_GetTickCount() - lastDsrLook >= kDsrRecheckMs) {
      lastDsrLook = Q7M_GetTickCount();
      WatchDsrLine();
    }
    if (chunkPos_ >= chunkLength_) {
      uint32_t limit = Q7M_INFINITE;
      if (dsrWatch) {
        const uint32_t since = Q7M_GetTickCount() - lastDsrLook;
        limit = since >= kDsrRecheckMs ? 0 : kDsrRecheckMs - since;
      }
      const Q7M_HANDLE handles[2] = {stopEvent_, readReady_};
      const uint32_t count = portGone_ ? 1 : 2;
      const uint32_t w = Q7M_WaitForMultipleObjects(count, handles, 0, limit);
      if (w == Q7M_WAIT_OBJECT_0) break;
      if (w == Q7M_WAIT_TIMEOUT) continue;
      if (w != Q7M_WAIT_OBJECT_0 + 1) {
        // The port cannot be waited on any more: stop watching it rather
        // than spin; the exchanges run into their time limits.
        portGone_ = true;
        continue;
      }
    }
    std::lock_guard<std::mutex> port(portLock_);
    if (const uint32_t error = LineErrorCheck("Wait", true); error != 0) {
      Notify(RunReceiver(true, error));
    } else {
      const uint32_t event = RunReceiver(false, 0);
      if (event != kEventNone) Notify(event);
    }
  }
}

}  // namespace q7m
