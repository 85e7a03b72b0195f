// libFuzzer target: the head of a trace ring file as q7m-trace reads it. The
// ring may be damaged or half written, so record-length detection and slot
// parsing must stay inside the bytes given whatever they hold.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ring_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view head(reinterpret_cast<const char*>(data), size);
  auto length = q7m::traceview::DetectRecordLength(head, size);
  if (!length) {
    return 0;
  }
  size_t slotSize = size_t{*length} + q7m::trace::kRecordOverhead;
  q7m::traceview::TraceRecord record;
  for (uint64_t slot = 0; (slot + 1) * slotSize <= size; ++slot) {
    std::string_view bytes = head.substr(slot * slotSize, slotSize);
    if (q7m::traceview::ParseSlot(bytes, slot, &record) &&
        (record.text.data() < bytes.data() ||
         record.text.data() + record.text.size() > bytes.data() + bytes.size())) {
      __builtin_trap();
    }
  }
  return 0;
}
