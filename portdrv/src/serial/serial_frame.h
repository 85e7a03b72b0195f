// The serial link's framing: control characters, and the command frame
// DLE STX <data with every DLE doubled> DLE ETX BCC, where BCC is the XOR of
// the message bytes (each DLE once) and ETX.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m::serial {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kEnq = 0x05;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kNak = 0x15;

// Largest frame for a message of n bytes: every byte doubled plus the five
// framing bytes.
constexpr size_t MaxFrameLength(size_t messageLength) {
  return 2 * messageLength + 5;
}

// The check byte of a message.
uint8_t FrameBcc(const uint8_t* message, size_t length);

// Writes the frame of `message` into `frame` (capacity bytes). Returns the
// frame length, or 0 when the frame does not fit.
size_t BuildFrame(const uint8_t* message, size_t length, uint8_t* frame, size_t capacity);

}  // namespace q7m::serial
