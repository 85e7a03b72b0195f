// What one run of the serial byte receiver reports, and the line error
// codes that travel the same way into the link state machine.
#pragma once

#include <cstdint>

namespace q7m::serial {

enum ReceiveEvent : uint32_t {
  kEventNone = 0,        // the run ended without a result (the port is stopping)
  kEventFrame = 1,       // a frame with a correct BCC
  kEventFrameStart = 2,  // DLE STX seen (reported while the frame is still coming)
  kEventEot = 3,         // DLE EOT
  kEventAck = 4,         // DLE ACK
  kEventNak = 5,         // DLE NAK
  kEventOverflow = 6,    // more data bytes than the receive buffer takes
  kEventBadDle = 7,      // DLE inside the data followed by neither ETX nor DLE
  kEventBadBcc = 8,      // BCC wrong
  kEventSilence = 9,     // nothing more arrived within the character interval
  kEventParity = 10,     // line error: parity
  kEventFraming = 11,    // line error: framing
  kEventOverrun = 12,    // line error: receive queue or hardware overrun
  kEventIoError = 13,    // line error: I/O error
};

}  // namespace q7m::serial
