// The system-failure result of this library, and the last-error numbers it
// reports, come from the platform headers; this header keeps them in one
// include.
#pragma once

#include <cstdint>

#include "q7m/last_error_keeper.h"
#include "q7m/platform_sys.h"
#include "q7m/sequor_result.h"
#include "q7m/system_failure.h"

namespace q7m {

static_assert(SEQUOR_SYSTEM_ERROR == kSystemFailureResult);

}  // namespace q7m
