// What the family handlers share when they read a reader's reply and refuse
// a caller's arguments.
//
// Absent fields: a reply is parsed through ResponseView, so nothing beyond
// the bytes that arrived is ever read. A field that did not arrive reads as
// 0 (numbers, digits), as an empty text (texts are terminated where they
// would have started) or as "unknown" (chip standards); a positive reply
// that lacks a field its export reports ends with RDAX_E_FAULTY_REPLY rather
// than success, after what did arrive has been filled in.
#pragma once

#include <cstdint>
#include <cstring>

#include "exchange.h"
#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "request.h"
#include "response_view.h"

namespace q7m::rdax {

// An argument error is stored as the handle's result by the handler itself,
// before the executor stores it again.
inline uint32_t StoreArgumentError(const RdaxRequest& request, uint32_t result) {
  SEQUOR_SetResult(reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(request.device())), result);
  return result;
}

// The request's parameter `index` (0: the first argument after the handle)
// as a pointer or a 32-bit value.
template <typename T>
T* Param(const RdaxRequest& request, int index) {
  return reinterpret_cast<T*>(request.param[index]);
}
inline uint32_t Value(const RdaxRequest& request, int index) {
  return static_cast<uint32_t>(request.param[index]);
}

// Sends a command whose reply carries nothing but its evaluation.
inline uint32_t SendAndEvaluate(const RdaxRequest& request, const char* command, uint32_t length) {
  Exchange exchange;
  const uint32_t r = exchange.Run(request.device(), command, length);
  return r != RDAX_OK ? r : exchange.Check();
}

// Reads fields of one positive reply and remembers whether any was absent.
class ReplyReader {
 public:
  explicit ReplyReader(ResponseView view) : view_(view) {}

  // A decimal field (digits up to the first non-digit), 0 when absent.
  uint32_t Decimal(uint32_t offset, uint32_t count) {
    const auto value = view_.Decimal(offset, count);
    if (!value) complete_ = false;
    return value.value_or(0);
  }
  // A hexadecimal field of upper-case digits; 0 when absent or malformed.
  uint32_t Hex(uint32_t offset, uint32_t count) {
    const auto value = view_.Hex(offset, count);
    if (!value) complete_ = false;
    return value.value_or(0);
  }
  // `count` characters copied to `out` and terminated (`out` holds
  // count + 1); an absent field leaves an empty text.
  void Text(uint32_t offset, uint32_t count, char* out) {
    const auto field = view_.Field(offset, count);
    if (!field) {
      complete_ = false;
      out[0] = '\0';
      return;
    }
    std::memcpy(out, field->data(), count);
    out[count] = '\0';
  }
  // One character, or `absent` when it did not arrive.
  char At(uint32_t offset, char absent) {
    const auto c = view_.At(offset);
    if (!c) complete_ = false;
    return c.value_or(absent);
  }

  bool complete() const { return complete_; }
  // `result` when everything arrived, else RDAX_E_FAULTY_REPLY.
  uint32_t Outcome(uint32_t result = RDAX_OK) const {
    return complete_ ? result : RDAX_E_FAULTY_REPLY;
  }

 private:
  ResponseView view_;
  bool complete_ = true;
};

}  // namespace q7m::rdax
