#include "ring_position.h"

#include <cstring>
#include <memory>
#include <new>

#include "q7m/common/results.h"
#include "q7m/trace/record_layout.h"

namespace q7m::trace {

namespace {
// Records are read in batches: a ring of thousands of records is scanned
// with a handful of reads instead of one per record.
constexpr uint32_t kScanBatchBytes = 64 * 1024;
}  // namespace

uint32_t RebuildRingPosition(clsRecordFile& file, uint32_t maxRecords, RingState* ring) {
  const uint32_t recordSize = file.recordSize();
  if (recordSize == 0) return kSystemFailure;
  uint32_t batchRecords = kScanBatchBytes / recordSize;
  if (batchRecords == 0) batchRecords = 1;
  std::unique_ptr<char[]> batch(new (std::nothrow) char[size_t{batchRecords} * recordSize]);
  if (!batch) {
    Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
    return kSystemFailure;
  }

  SequenceRunScanner run;
  bool running = true;
  for (uint32_t slot = 0; running && slot < maxRecords;) {
    uint32_t count = maxRecords - slot < batchRecords ? maxRecords - slot : batchRecords;
    uint32_t want = count * recordSize;
    uint32_t got = 0;
    if (file.ReadRecordAt(slot, batch.get(), want, &got) != kOk) return kSystemFailure;
    // What the file does not hold reads as empty records, and so does a
    // record it holds only in part (a write cut by a crash), even when the
    // part is a whole valid header: the ring resumes in that slot.
    const uint32_t whole = got - got % recordSize;
    if (whole < want) std::memset(batch.get() + whole, 0, want - whole);
    for (uint32_t i = 0; i < count && running; ++i) {
      running = run.Accept(batch.get() + size_t{i} * recordSize, recordSize);
    }
    if (got < want) break;
    slot += count;
  }

  ring->writeIndex = run.length();
  ring->nextSequence = run.nextSequence();
  ring->maxRecords = maxRecords;
  return kOk;
}

}  // namespace q7m::trace
