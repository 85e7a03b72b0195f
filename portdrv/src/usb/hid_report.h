// The card reader's HID report layout: [report id][length, 16-bit
// big-endian][message], the id chosen by the report's used length from a
// fixed table of report sizes.
#pragma once

#include <cstdint>

namespace q7m {

// Largest report of ids 1 to 9, id byte included.
constexpr uint32_t kReportSizes[9] = {4, 12, 20, 36, 76, 140, 268, 372, 2068};
// Bytes of a report beyond the message it can carry, as the reader counts
// them for its largest message sizes.
constexpr uint32_t kReportFraming = 6;
// Report id, length field.
constexpr uint32_t kReportHeader = 3;

// The first of ids 1 to 8 whose size holds `usedLength` bytes, else 9.
uint8_t ReportIdForLength(uint32_t usedLength);

// The largest message of a report length (0 for a report shorter than the
// framing: it carries none).
inline uint32_t MessageRoom(uint32_t reportLength) {
  return reportLength > kReportFraming ? reportLength - kReportFraming : 0;
}

inline uint32_t BigEndian16(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 8) | p[1];
}

inline void PutBigEndian16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}

}  // namespace q7m
