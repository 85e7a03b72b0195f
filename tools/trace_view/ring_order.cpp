#include "ring_order.h"

#include <vector>

namespace q7m::traceview {

namespace {
constexpr uint64_t kBatchBytes = 256 * 1024;

uint64_t BatchSlots(const RingFile& file) {
  uint64_t n = kBatchBytes / file.recordSize();
  return n == 0 ? 1 : n;
}

// Visits slots [first, end) in batches; stops early when `visit` says so.
void ReadRange(const RingFile& file, uint64_t first, uint64_t end,
               const std::function<bool(uint64_t, std::string_view)>& visit) {
  std::vector<char> buffer;
  const uint64_t size = file.recordSize();
  for (uint64_t slot = first; slot < end;) {
    uint64_t want = end - slot < BatchSlots(file) ? end - slot : BatchSlots(file);
    uint64_t got = file.ReadSlots(slot, want, &buffer);
    for (uint64_t i = 0; i < got; ++i) {
      if (!visit(slot + i, std::string_view(buffer.data() + i * size, size))) return;
    }
    if (got < want) return;
    slot += got;
  }
}

}  // namespace

RingOrder FindRingOrder(const RingFile& file) {
  RingOrder order;
  order.slots = file.SlotCount();
  trace::SequenceRunScanner run;
  ReadRange(file, 0, order.slots, [&](uint64_t, std::string_view bytes) {
    return run.Accept(bytes.data(), bytes.size());
  });
  order.oldest = run.length() >= order.slots ? 0 : run.length();
  return order;
}

uint64_t ForEachRecord(const RingFile& file, const RingOrder& order,
                       const std::function<void(const TraceRecord&)>& visit) {
  uint64_t unusable = 0;
  auto each = [&](uint64_t slot, std::string_view bytes) {
    TraceRecord record;
    if (ParseSlot(bytes, slot, &record)) {
      visit(record);
    } else {
      ++unusable;
    }
    return true;
  };
  ReadRange(file, order.oldest, order.slots, each);
  ReadRange(file, 0, order.oldest, each);
  return unusable;
}

}  // namespace q7m::traceview
