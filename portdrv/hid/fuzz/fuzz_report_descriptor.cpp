// Fuzz target: any bytes a device (or a damaged sysfs file) gives as its
// report descriptor are parsed without reading out of bounds, and the
// lengths of an accepted descriptor are consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  q7m::hid::ReportLayout layout;
  if (q7m::hid::ParseReportDescriptor(data, size, &layout) == q7m::hid::DescriptorError::kNone) {
    // A length, when there is one, holds at least the id byte and a data byte.
    for (uint16_t length : {layout.inputLength, layout.outputLength, layout.featureLength})
      if (length == 1) std::abort();
  }
  return 0;
}
