// The Type B attribute record built from the nine bytes an engineer types.
#pragma once

#include <array>
#include <cstdint>

#include "q7m/rdax.h"

namespace q7m::rigtool {

// b1 and b2 become the SOF and EOF flags (1 when not 0), b3..b9 the bytes
// TR0, TR1, frame size, the two bit rates, protocol type and card
// identifier, in the library's layout with its record mark; the reserved
// bytes are 0.
RDAX_TYPEB_ATTRIBUTE BuildTypeBAttribute(const std::array<uint8_t, 9>& b);

}  // namespace q7m::rigtool
