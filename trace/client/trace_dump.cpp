// The port driver's hex dumps of transfers and messages. A dump is a header
// line with the device label and the byte count, followed by the bytes as
// "XX " groups, as many per line as the record length allows; continuation
// lines blank the header out. The lines of one dump are written under the
// trace lock so no other writer's record lands between them.
#include <cstdio>
#include <cstring>

#include "q7m/trace/record_layout.h"
#include "q7m/trace_client.h"
#include "trace_binding.h"

namespace q7m {

namespace {

// Message dumps show the start of a message: this many bytes, rounded up
// to whole lines.
constexpr uint32_t kMessageDumpBytes = 64;

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

void TraceClient::DumpTransfer(TransferDump kind, const char* label, const void* data,
                               uint32_t count) {
  WriteDump(kind == TransferDump::kSent ? "S:%-6s L=0x%03.3lX D=" : "R:%-6s L=0x%03.3lX D=", label,
            data, count, true);
}

void TraceClient::DumpMessage(MessageDump kind, const char* label, const void* data,
                              uint32_t count) {
  WriteDump(kind == MessageDump::kCommand ? "CMD:%-6s L=0x%03.3lX D=" : "RES:%-6s L=0x%03.3lX D=",
            label, data, count, false);
}

void TraceClient::WriteDump(const char* headerFormat, const char* label, const void* data,
                            uint32_t count, bool firstLineOnly) {
  Binding* b = active_.load(std::memory_order_acquire);
  if (b == nullptr) return;
  uint32_t recordLength = recordLength_.load(std::memory_order_relaxed);
  if (recordLength > trace::kMaxTextLength) recordLength = trace::kMaxTextLength;

  // One line never exceeds the record length plus the blank of its last
  // byte, and the record length never exceeds the largest one, so the line
  // fits on the stack: nothing is allocated in the exchange path.
  char line[trace::kMaxTextLength + 4];
  int formatted = std::snprintf(line, sizeof line, headerFormat, label != nullptr ? label : "",
                                static_cast<unsigned long>(count));
  if (formatted < 0) return;
  const uint32_t headerLength = static_cast<uint32_t>(formatted);
  if (headerLength >= recordLength) return;  // not even one byte fits

  const uint32_t room = recordLength - headerLength;
  const uint32_t perLine = room / 3 + (room % 3 == 2 ? 1 : 0);
  if (perLine == 0) return;
  uint32_t lines = count == 0 ? 1 : (count + perLine - 1) / perLine;
  const uint32_t maxLines = firstLineOnly ? 1 : kMessageDumpBytes / perLine + 1;
  if (lines > maxLines) lines = maxLines;

  const auto* bytes = static_cast<const unsigned char*>(data);
  if (bytes == nullptr) count = 0;
  b->lock(b->handle);
  uint32_t offset = 0;
  for (uint32_t n = 0; n < lines; ++n) {
    if (n > 0) std::memset(line, ' ', headerLength);
    uint32_t length = headerLength;
    for (uint32_t i = 0; i < perLine && offset < count; ++i, ++offset) {
      line[length++] = kHexDigits[bytes[offset] >> 4];
      line[length++] = kHexDigits[bytes[offset] & 0xF];
      line[length++] = ' ';
    }
    b->output(b->handle, line, length);
  }
  b->unlock(b->handle);
}

}  // namespace q7m
