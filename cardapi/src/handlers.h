// The handlers of the operation families, one file per family.
#pragma once

#include "request.h"

namespace q7m::rdax {

// Operation 0, the raw pass-through: parameter 1 the command copy, 2 its
// length, 3 the send time limit, 4 the response buffer, 5 its size, 6 the
// length pointer, 7 the receive time limit.
uint32_t HandleSendCommand(const RdaxRequest& request);

}  // namespace q7m::rdax
