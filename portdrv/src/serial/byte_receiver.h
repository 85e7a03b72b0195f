// The serial byte receiver as pure logic: fed one byte at a time, it hunts
// for DLE sequences, collects frame data (undoubling DLE, computing the
// BCC) and tells when and how a run ends. Reading the port and the line
// error checks are its owner's business, reached through Hooks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "receive_events.h"

namespace q7m::serial {

class ByteReceiver {
 public:
  class Hooks {
   public:
    // Reads and clears the port's line errors; `label` names the point of
    // the check in trace lines. kEventNone, or the line error event
    // (kEventParity to kEventIoError).
    virtual uint32_t CheckLine(const char* label) = 0;
    // DLE STX was seen: reported at once, the frame is still coming.
    virtual void OnFrameStart() = 0;

   protected:
    ~Hooks() = default;
  };

  enum class Mode : uint8_t { kHunt, kAfterDle, kData, kAfterDleInData, kBcc, kDiscard };

  // `data`: the working buffer for frame data (`dataCapacity` bytes, the
  // largest response); `raw`: where every byte of a run is kept (bytes past
  // `rawCapacity` are not kept). Both stay owned by the caller.
  ByteReceiver(uint8_t* data, size_t dataCapacity, uint8_t* raw, size_t rawCapacity)
      : data_(data), dataCapacity_(dataCapacity), raw_(raw), rawCapacity_(rawCapacity) {}

  // Begins a run in hunt mode, or in discard mode with the line error code
  // that caused it.
  void StartHunt();
  void StartDiscard(uint32_t code);

  // One byte read: kEventNone to go on, or the event that ends the run.
  uint32_t Feed(uint8_t byte, Hooks& hooks);
  // Silence for the character interval: the event that ends the run.
  uint32_t OnSilence(Hooks& hooks);

  Mode mode() const { return mode_; }
  size_t dataCount() const { return dataCount_; }
  const uint8_t* data() const { return data_; }
  size_t rawCount() const { return rawCount_; }
  const uint8_t* raw() const { return raw_; }

 private:
  void Begin(Mode mode, uint32_t code);
  uint32_t Discard(uint32_t lineError, uint32_t fallback);
  // Stores one data byte; false when the buffer is full.
  bool Store(uint8_t byte);

  uint8_t* data_;
  size_t dataCapacity_;
  uint8_t* raw_;
  size_t rawCapacity_;
  Mode mode_ = Mode::kHunt;
  uint32_t discardCode_ = kEventNone;
  size_t dataCount_ = 0;
  size_t rawCount_ = 0;
  uint8_t bcc_ = 0;
};

}  // namespace q7m::serial
