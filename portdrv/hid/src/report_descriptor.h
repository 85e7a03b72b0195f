// Report lengths from a HID report descriptor: the parser walks the main and
// global items (report ids, sizes, counts) and adds up the bits of each
// report, as a system HID parser does to size its report buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m::hid {

struct ReportLayout {
  // Largest report of each direction in bytes, with the report id byte
  // (which is 0 when the device does not number its reports); 0 when the
  // device has no report of that direction.
  uint16_t inputLength = 0;
  uint16_t outputLength = 0;
  uint16_t featureLength = 0;
  // Usage page and usage of the first top-level collection.
  uint16_t usagePage = 0;
  uint16_t usage = 0;
  // The device numbers its reports (a Report ID item is present).
  bool numbered = false;
};

enum class DescriptorError {
  kNone,
  kTruncated,       // an item runs past the end
  kBadReportId,     // Report ID 0 or above 255
  kStackOverflow,   // too many nested Push items
  kStackUnderflow,  // Pop without Push
  kUnbalanced,      // End Collection without Collection, or a collection left open
  kReportTooLong,   // a report beyond what a 16-bit length holds
};

// Parses `size` bytes. On kNone `layout` holds the lengths; otherwise it is
// left as it was.
DescriptorError ParseReportDescriptor(const uint8_t* data, size_t size, ReportLayout* layout);

}  // namespace q7m::hid
