// The raw pass-through of one command: the caller reads the reader's answer
// itself, so only the transport's outcome is the result.
#include "exchange.h"
#include "handlers.h"

namespace q7m::rdax {

uint32_t HandleSendCommand(const RdaxRequest& request) {
  return RdaxExchange(
      request.device(), reinterpret_cast<const char*>(request.param[0]),
      static_cast<uint32_t>(request.param[1]), static_cast<uint32_t>(request.param[2]),
      reinterpret_cast<char*>(request.param[3]), static_cast<uint32_t>(request.param[4]),
      reinterpret_cast<uint32_t*>(request.param[5]), static_cast<uint32_t>(request.param[6]));
}

}  // namespace q7m::rdax
