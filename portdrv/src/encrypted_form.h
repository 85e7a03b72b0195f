// The plain block area of an encrypted message, shared by both transports:
// [message length n, 2 bytes big-endian][the message][random bytes to the
// end of the last 8-byte block]. Its cipher text follows the marker "D".
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m {

// Writes the block area for a message of `length` bytes into `area`.
// Returns the number of blocks, or 0 when they do not fit into `capacity`.
size_t BuildPlainBlockArea(const uint8_t* message, size_t length, uint8_t* area, size_t capacity);

// The message length held in the first two bytes of a decrypted area.
inline uint32_t PlainLength(const uint8_t* area) {
  return (static_cast<uint32_t>(area[0]) << 8) | area[1];
}

}  // namespace q7m
