// libFuzzer target: the HID filter list from PDLNK.INI and the device names
// callers pass to open a reader. Both are text from outside; the filter must
// never hold more than its capacity, and a parsed serial port name must lie
// within the name given.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device_name.h"
#include "hid_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The filter keeps a large table inline; one per process keeps runs fast.
  static q7m::HidFilter filter;
  std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  filter.Clear();
  filter.Parse(text.c_str(), ", \t");  // as the INI list is split
  if (filter.count() > q7m::HidFilter::kMaxEntries) {
    __builtin_trap();
  }
  (void)filter.Accepts(0x0590, 0x0001);

  (void)q7m::ChooseTransport(text.c_str());
  q7m::SerialName name = q7m::ParseSerialName(text.c_str());
  if (name.portName.size() > text.size()) {
    __builtin_trap();
  }
  (void)q7m::DefaultSerialDevicePath(name.portName);
  return 0;
}
