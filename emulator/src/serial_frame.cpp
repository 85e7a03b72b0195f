#include "serial_frame.h"

namespace q7msim {

uint8_t FrameCheck(const uint8_t* data, size_t size) {
  uint8_t check = 0;
  for (size_t i = 0; i < size; ++i) check ^= data[i];
  return check ^ ctl::kEtx;
}

size_t EncodeFrame(const uint8_t* data, size_t size, uint8_t* out, size_t capacity,
                   bool corruptCheck) {
  size_t n = 0;
  auto put = [&](uint8_t byte) {
    if (n < capacity) out[n] = byte;
    ++n;
  };
  put(ctl::kDle);
  put(ctl::kStx);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == ctl::kDle) put(ctl::kDle);
    put(data[i]);
  }
  put(ctl::kDle);
  put(ctl::kEtx);
  uint8_t check = FrameCheck(data, size);
  put(corruptCheck ? static_cast<uint8_t>(check ^ 0xFF) : check);
  return n <= capacity ? n : 0;
}

void FrameReceiver::Reset() {
  state_ = State::kHunt;
  size_ = 0;
  check_ = 0;
  overflow_ = false;
}

bool FrameReceiver::inFrame() const {
  return state_ == State::kData || state_ == State::kDataAfterDle || state_ == State::kCheck;
}

void FrameReceiver::Store(uint8_t byte) {
  check_ ^= byte;
  if (size_ < kMaxCommandBytes)
    data_[size_++] = byte;
  else
    overflow_ = true;
}

FrameReceiver::Event FrameReceiver::Feed(uint8_t byte) {
  switch (state_) {
    case State::kHunt:
      if (byte == ctl::kDle) state_ = State::kAfterDle;
      return Event::kNone;
    case State::kAfterDle:
      switch (byte) {
        case ctl::kStx:
          size_ = 0;
          check_ = 0;
          overflow_ = false;
          state_ = State::kData;
          return Event::kNone;
        case ctl::kDle:
          return Event::kNone;
        case ctl::kEnq:
          state_ = State::kHunt;
          return Event::kEnq;
        case ctl::kEot:
          state_ = State::kHunt;
          return Event::kEot;
        case ctl::kAck:
          state_ = State::kHunt;
          return Event::kAck;
        case ctl::kNak:
          state_ = State::kHunt;
          return Event::kNak;
        default:
          state_ = State::kHunt;
          return Event::kNone;
      }
    case State::kData:
      if (byte == ctl::kDle)
        state_ = State::kDataAfterDle;
      else
        Store(byte);
      return Event::kNone;
    case State::kDataAfterDle:
      if (byte == ctl::kDle) {
        Store(byte);
        state_ = State::kData;
        return Event::kNone;
      }
      if (byte == ctl::kEtx) {
        check_ ^= ctl::kEtx;
        state_ = State::kCheck;
        return Event::kNone;
      }
      if (byte == ctl::kStx) {
        size_ = 0;
        check_ = 0;
        overflow_ = false;
        state_ = State::kData;
        return Event::kRestart;
      }
      state_ = State::kHunt;
      return Event::kGarbled;
    case State::kCheck:
      state_ = State::kHunt;
      if (overflow_) return Event::kOverflow;
      return byte == check_ ? Event::kFrame : Event::kBadCheck;
  }
  return Event::kNone;
}

}  // namespace q7msim
