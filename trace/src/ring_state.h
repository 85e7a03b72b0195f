// The ring state every writer of one trace file shares, in every process:
// the data area of the ring's shared-memory block. Only touched while the
// ring lock is held.
#pragma once

#include <cstdint>

namespace q7m::trace {

struct RingState {
  uint32_t initialised;   // 0 until the first handle has rebuilt the position
  uint32_t writeIndex;    // slot the next record goes to
  uint32_t nextSequence;  // sequence of the next record (kept to 24 bits when used)
  uint32_t maxRecords;    // ring size, from the first handle
  uint32_t recordLength;  // text characters per record, from the first handle
};
static_assert(sizeof(RingState) == 20, "the ring block layout is shared between processes");

}  // namespace q7m::trace
