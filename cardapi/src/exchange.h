// One command exchange with the reader through the execution service, with
// the time limits and response buffer size each command needs.
#pragma once

#include <cstdint>
#include <string_view>

#include "q7m/rdax.h"
#include "response_view.h"

namespace q7m::rdax {

// Sends `command` and waits for the response (time limits in seconds, run on
// the calling thread). Returns the mapped execution service code: non-zero
// means no usable response arrived.
uint32_t RdaxExchange(const RDAX* handle, const char* command, uint32_t commandLength,
                      uint32_t sendTimeout, char* response, uint32_t responseSize,
                      uint32_t* responseLength, uint32_t receiveTimeout);

// When in its operation a command is sent, where that changes its limits.
enum class ExchangeUse {
  kOrdinary,
  kResetFirstAttempt,  // "00" of the initial reset, first try
  kDownload,           // every command of the firmware download
  kTypeBData,          // "n3" of the Type B data exchange
};

struct ExchangeLimits {
  uint32_t sendSeconds;
  uint32_t receiveSeconds;
  uint32_t responseSize;  // bytes of the response buffer to offer
};

// The largest response buffer any command uses; handlers keep one of this
// size on their stack.
constexpr uint32_t kMaxResponseSize = 4096;

// The limits of a command code ("00", "6a", "E" for the cancel message).
// `extraSeconds` is added where a command waits for a caller's time (card
// status monitoring, contactless activation).
ExchangeLimits LimitsFor(std::string_view code, ExchangeUse use = ExchangeUse::kOrdinary,
                         uint32_t extraSeconds = 0);

// A response buffer on the handler's stack and the exchange that fills it.
class Exchange {
 public:
  // Sends a command message (mark "C" and code first, or the one-byte
  // cancel "E") with the limits of its code.
  uint32_t Run(const RDAX* handle, const char* command, uint32_t length,
               ExchangeUse use = ExchangeUse::kOrdinary, uint32_t extraSeconds = 0);
  ResponseView response() const { return ResponseView(buffer_, length_); }
  // RdaxCheckResponse of the response.
  uint32_t Check() const;

 private:
  char buffer_[kMaxResponseSize];
  uint32_t length_ = 0;
};

}  // namespace q7m::rdax
