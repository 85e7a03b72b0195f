#include "byte_receiver.h"

#include "serial_frame.h"

namespace q7m::serial {

void ByteReceiver::Begin(Mode mode, uint32_t code) {
  mode_ = mode;
  discardCode_ = code;
  dataCount_ = 0;
  rawCount_ = 0;
  bcc_ = 0;
}

void ByteReceiver::StartHunt() {
  Begin(Mode::kHunt, kEventNone);
}

void ByteReceiver::StartDiscard(uint32_t code) {
  Begin(Mode::kDiscard, code);
}

uint32_t ByteReceiver::Discard(uint32_t lineError, uint32_t fallback) {
  mode_ = Mode::kDiscard;
  discardCode_ = lineError != 0 ? lineError : fallback;
  return kEventNone;
}

bool ByteReceiver::Store(uint8_t byte) {
  if (dataCount_ >= dataCapacity_) return false;
  data_[dataCount_++] = byte;
  bcc_ ^= byte;
  return true;
}

uint32_t ByteReceiver::Feed(uint8_t byte, Hooks& hooks) {
  if (rawCount_ < rawCapacity_) raw_[rawCount_++] = byte;
  switch (mode_) {
    case Mode::kHunt:
      if (byte == kDle) mode_ = Mode::kAfterDle;
      return kEventNone;

    case Mode::kAfterDle: {
      if (uint32_t error = hooks.CheckLine("STX"); error != 0) return Discard(error, error);
      switch (byte) {
        case kStx:
          mode_ = Mode::kData;
          hooks.OnFrameStart();
          return kEventNone;
        case kEot:
          return kEventEot;
        case kAck:
          return kEventAck;
        case kNak:
          return kEventNak;
        case kDle:
          return kEventNone;
        default:
          mode_ = Mode::kHunt;
          return kEventNone;
      }
    }

    case Mode::kData:
      if (byte == kDle) {
        mode_ = Mode::kAfterDleInData;
        return kEventNone;
      }
      if (!Store(byte)) return Discard(hooks.CheckLine("DATA"), kEventOverflow);
      return kEventNone;

    case Mode::kAfterDleInData:
      if (byte == kEtx) {
        bcc_ ^= kEtx;
        mode_ = Mode::kBcc;
        return kEventNone;
      }
      if (byte == kDle) {
        if (!Store(byte)) return Discard(hooks.CheckLine("ETX"), kEventOverflow);
        mode_ = Mode::kData;
        return kEventNone;
      }
      return Discard(hooks.CheckLine("ETX"), kEventBadDle);

    case Mode::kBcc: {
      if (uint32_t error = hooks.CheckLine("BCC"); error != 0) return Discard(error, error);
      return byte == bcc_ ? kEventFrame : kEventBadBcc;
    }

    case Mode::kDiscard:
      return kEventNone;
  }
  return kEventNone;
}

uint32_t ByteReceiver::OnSilence(Hooks& hooks) {
  if (mode_ == Mode::kDiscard) return discardCode_;
  uint32_t error = hooks.CheckLine("Timeout");
  return error != 0 ? error : kEventSilence;
}

}  // namespace q7m::serial
