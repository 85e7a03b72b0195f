// What a caller's USB device name asks for: "USB:[serial][,filters]" (or a
// name without a colon, taken whole as that selector). The serial number
// picks one reader; the filter list narrows the search to products.
#pragma once

#include <string>

namespace q7m {

// The longest selector that is looked at; the rest is ignored.
constexpr size_t kMaxSelectorLength = 8124;

struct DeviceSelector {
  std::string serialNumber;  // empty: any reader
  std::string filterList;    // empty: the search's own (INI) filter
};

// The selector is the part after the first colon (the whole name without
// one), stripped of blanks and tabs at both ends and split at commas, a run
// of commas counting as one separator: the first piece is the serial number
// (trailing blanks removed), the second the filter list, further pieces are
// ignored. A selector that starts with a comma names no serial number, so
// "USB:,52 83" searches for products 52 and 83.
DeviceSelector ParseDeviceSelector(const char* deviceName);

}  // namespace q7m
