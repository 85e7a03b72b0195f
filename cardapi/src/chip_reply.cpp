// Chip data records and chained replies.
#include "chip_reply.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "q7m/sequor.h"

namespace q7m::rdax {

void ChipOutput::Append(std::string_view bytes) {
  const uint32_t length = record_->length;
  if (bytes.empty()) return;
  if (length < RDAX_CHIP_DATA_MAX) {
    const size_t room = RDAX_CHIP_DATA_MAX - length;
    std::memcpy(record_->data + length, bytes.data(), std::min(room, bytes.size()));
  }
  // The count saturates rather than wrap: a reader cannot make a long
  // answer look short.
  const uint64_t total = uint64_t{length} + bytes.size();
  record_->length =
      static_cast<uint32_t>(std::min<uint64_t>(total, std::numeric_limits<uint32_t>::max()));
}

std::string_view ChainPartData(const ResponseView& reply, const ChainForm& form) {
  if (!form.lengthField) return reply.Rest(form.dataOffset);
  const auto high = reply.At(form.dataOffset - 2);
  const auto low = reply.At(form.dataOffset - 1);
  if (!high || !low) return {};
  const uint32_t declared =
      (uint32_t{static_cast<uint8_t>(*high)} << 8) | static_cast<uint8_t>(*low);
  const std::string_view rest = reply.Rest(form.dataOffset);
  // A length beyond what arrived gives what arrived.
  return rest.substr(0, std::min<size_t>(declared, rest.size()));
}

uint32_t ReadReplyChain(const RDAX* handle, Exchange& exchange, const ChainForm& form,
                        const char* fetch, uint32_t fetchLength, ExchangeUse use,
                        ChipOutput& output) {
  for (uint32_t parts = 1;; ++parts) {
    const uint32_t refused = exchange.Check();
    if (refused != RDAX_OK) return refused;
    const ResponseView reply = exchange.response();
    const auto status = reply.Field(form.statusOffset, 2);
    if (!status) return RDAX_OK;
    if ((*status)[0] == form.last[0] && (*status)[1] == form.last[1]) {
      output.Append(ChainPartData(reply, form));
      return RDAX_OK;
    }
    if ((*status)[0] != form.more[0] || (*status)[1] != form.more[1]) return RDAX_OK;
    output.Append(ChainPartData(reply, form));
    if (parts >= kMaxReplyParts) return RDAX_E_FAULTY_REPLY;
    const uint32_t r = exchange.Run(handle, fetch, fetchLength, use);
    if (r != RDAX_OK) return r;
  }
}

}  // namespace q7m::rdax
