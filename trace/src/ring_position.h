// Rebuilding the ring position from the records already in a trace file, so
// that a ring continues where the previous run stopped.
#pragma once

#include <cstdint>

#include "q7m/common/cls_record_file.h"
#include "ring_state.h"

namespace q7m::trace {

// Scans `file` (records of file.recordSize() bytes) from slot 0 and sets
// writeIndex and nextSequence of `ring` to follow the unbroken run of
// consecutive records that starts there; maxRecords becomes `maxRecords`.
// A record the file holds only in part counts as an empty one. kOk, or
// kSystemFailure when a read fails (the ring is then left as it was).
uint32_t RebuildRingPosition(clsRecordFile& file, uint32_t maxRecords, RingState* ring);

}  // namespace q7m::trace
