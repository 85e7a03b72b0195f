// The order in which a ring's records were written. The writer resumes after
// the unbroken run of consecutive sequence numbers that starts at slot 0, so
// the slot after that run holds the oldest record of a ring that has
// wrapped; reading from there to the end and then from slot 0 gives the
// records oldest first.
#pragma once

#include <cstdint>
#include <functional>

#include "ring_file.h"

namespace q7m::traceview {

struct RingOrder {
  uint64_t oldest = 0;  // slot of the oldest record
  uint64_t slots = 0;   // whole slots in the file when it was scanned
};

RingOrder FindRingOrder(const RingFile& file);

// Calls `visit` for every whole record, oldest first; returns how many
// slots held no whole record (damaged, or being written just then).
uint64_t ForEachRecord(const RingFile& file, const RingOrder& order,
                       const std::function<void(const TraceRecord&)>& visit);

}  // namespace q7m::traceview
