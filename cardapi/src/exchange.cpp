// The command exchange and the table of time limits and response buffers.
#include "exchange.h"

#include "q7m/sequor.h"
#include "result_map.h"

namespace q7m::rdax {

uint32_t RdaxExchange(const RDAX* handle, const char* command, uint32_t commandLength,
                      uint32_t sendTimeout, char* response, uint32_t responseSize,
                      uint32_t* responseLength, uint32_t receiveTimeout) {
  // The execution service's own completion event stays null: the exchange
  // runs on this (caller's or worker) thread.
  return RdaxMapSequorCode(SEQUOR_Execute(
      reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle)), command, commandLength,
      sendTimeout, response, responseSize, responseLength, receiveTimeout, nullptr));
}

uint32_t Exchange::Run(const RDAX* handle, const char* command, uint32_t length, ExchangeUse use,
                       uint32_t extraSeconds) {
  std::string_view code;
  if (length >= 3 && command[0] == 'C') {
    code = std::string_view(command + 1, 2);
  } else if (length >= 1) {
    code = std::string_view(command, 1);
  }
  const ExchangeLimits limits = LimitsFor(code, use, extraSeconds);
  length_ = 0;
  const uint32_t r = RdaxExchange(handle, command, length, limits.sendSeconds, buffer_,
                                  limits.responseSize, &length_, limits.receiveSeconds);
  // The execution service never reports more than the buffer it was given;
  // a length beyond it would not be believed either.
  if (length_ > limits.responseSize) length_ = limits.responseSize;
  return r;
}

uint32_t Exchange::Check() const {
  return RdaxCheckResponse(buffer_, length_);
}

}  // namespace q7m::rdax
