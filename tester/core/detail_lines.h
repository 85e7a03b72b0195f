// The detail entry of an API: the fields of its output record, decoded line
// by line as the log shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tool_records.h"

namespace q7m::rigtool {

struct DetailInput {
  uint32_t result = 0;  // what the call returned (SendCommand shows only after 0)
  // ActivateContactless: what RDAX_GetResult answered after the call; the
  // cards are shown only when it is 0.
  uint32_t contactlessResult = 0;
};

// The entry for `apiIndex`, or nothing for the APIs that have none (and
// where a condition leaves it out).
std::optional<std::string> DetailEntry(int apiIndex, const ToolRecords& records,
                                       const DetailInput& input);

}  // namespace q7m::rigtool
