// One API call of RigTool: an API index and the four resolved parameter
// texts become the exact RDAX_* call, with its output records cleared.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "q7m/rdax.h"
#include "tool_records.h"

namespace q7m::rigtool {

// What a data text that does not parse gives instead of a call.
constexpr uint32_t kDataTextRefused = RDAX_E_PARAMETER;

// The four parameter texts as resolved from the boxes or a list row.
using Params = std::array<std::string, 4>;

struct CallInput {
  const RDAX* handle = nullptr;
  Q7M_HANDLE event = nullptr;  // null: synchronous
  Params params;
};

enum class CallStatus {
  kCalled,            // the API ran; result is its answer
  kDataRefused,       // a data text did not parse or does not fit: no call
  kAttributeRefused,  // the Type B attribute is not 9 bytes: no call, no result
};

struct CallOutcome {
  CallStatus status = CallStatus::kCalled;
  uint32_t result = 0;
};

// Converts the parameters, fills and clears `records` and calls the API of
// `apiIndex` (which must be inside the list).
CallOutcome CallApi(int apiIndex, const CallInput& input, ToolRecords& records);

}  // namespace q7m::rigtool
