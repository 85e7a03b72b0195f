// What the chip and contactless handlers share: filling a chip data record from
// reply bytes without ever writing past its 2048 data bytes, and reading a
// reply that the reader sends in parts.
#pragma once

#include <cstdint>
#include <string_view>

#include "exchange.h"
#include "q7m/rdax.h"
#include "reply_fields.h"
#include "request.h"

namespace q7m::rdax {

// The output record of an exchange. Every reply byte counts in `length`, so a
// caller learns how long the card's answer was; only the first
// RDAX_CHIP_DATA_MAX bytes are kept.
class ChipOutput {
 public:
  explicit ChipOutput(RdaxChipData* record) : record_(record) {}
  void Start(int32_t kind) {
    record_->kind = kind;
    record_->length = 0;
  }
  void Append(std::string_view bytes);

 private:
  RdaxChipData* record_;
};

// Where a reply part carries its chain status and its data, and the status
// characters that mean "more follows" and "last part".
struct ChainForm {
  uint32_t statusOffset;
  uint32_t dataOffset;
  // Type B parts say how many data bytes follow (16-bit big-endian, just
  // before the data); the others run to the end of the reply.
  bool lengthField;
  char more[2];
  char last[2];
};

// A reader that keeps answering "more follows" is stopped after this many
// parts: 64 parts of the longest message a serial frame carries (1050 bytes)
// hold more than the longest answer a card can give (65538 bytes), so only a
// faulty reader gets there.
constexpr uint32_t kMaxReplyParts = 64;

// Reads a chained reply whose first part is in `exchange`: appends each
// "more" part and fetches the next one with `fetch`, appends the "last" part
// and ends; any other status ends without appending. A refusal ends it with
// the reader's error, a reader that never ends with RDAX_E_FAULTY_REPLY. The
// output keeps what was appended before an error.
uint32_t ReadReplyChain(const RDAX* handle, Exchange& exchange, const ChainForm& form,
                        const char* fetch, uint32_t fetchLength, ExchangeUse use,
                        ChipOutput& output);

// The data of one reply part in `form` (empty when none arrived).
std::string_view ChainPartData(const ResponseView& reply, const ChainForm& form);

}  // namespace q7m::rdax
