// From what the execution service and the reader answer to the API's result
// codes: the execution service's codes, the reader's two-character error
// codes and the evaluation of a whole response.
#pragma once

#include <cstdint>

namespace q7m::rdax {

// The execution service's result codes as API results; values it does not
// know (results stored earlier by this library) pass unchanged.
uint32_t RdaxMapSequorCode(uint32_t code);

// Whether an answer of the execution service's API lock (taking it or
// asking about it) means that an operation is running on the device.
bool IsApiLockHeld(uint32_t code);

// A reader error code (the two characters after "N" and the echoed command
// code) as an API result; never fails: unknown codes give 0x84000000.
uint32_t RdaxMapReaderError(char c1, char c2);

// The evaluation of a received response: "E" cancelled, "N" its error code,
// "P" success (for the track read: the first failed track of the track set).
// Reads only the `length` bytes that arrived.
uint32_t RdaxCheckResponse(const char* response, uint32_t length);

}  // namespace q7m::rdax
