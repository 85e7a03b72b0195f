#include "serial_frame.h"

namespace q7m::serial {

uint8_t FrameBcc(const uint8_t* message, size_t length) {
  uint8_t bcc = 0;
  for (size_t i = 0; i < length; ++i) bcc ^= message[i];
  return static_cast<uint8_t>(bcc ^ kEtx);
}

size_t BuildFrame(const uint8_t* message, size_t length, uint8_t* frame, size_t capacity) {
  size_t out = 0;
  auto put = [&](uint8_t b) {
    if (out >= capacity) return false;
    frame[out++] = b;
    return true;
  };
  if (!put(kDle) || !put(kStx)) return 0;
  for (size_t i = 0; i < length; ++i) {
    if (!put(message[i])) return 0;
    if (message[i] == kDle && !put(kDle)) return 0;
  }
  if (!put(kDle) || !put(kEtx) || !put(FrameBcc(message, length))) return 0;
  return out;
}

}  // namespace q7m::serial
