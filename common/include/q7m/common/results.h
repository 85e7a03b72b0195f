// Result codes of the shared utilities.
#pragma once

#include <cstdint>

#include "q7m/system_failure.h"

namespace q7m {

constexpr uint32_t kOk = 0;
constexpr uint32_t kTimeout = 2;
constexpr uint32_t kSystemFailure = kSystemFailureResult;
// A mutex existed although only "may create" was allowed.
constexpr uint32_t kMutexExisted = 2001;
// A mutex was created although only "may open" was allowed.
constexpr uint32_t kMutexCreated = 2002;

// clsMutex::Create flags.
constexpr uint32_t kMayCreate = 1;
constexpr uint32_t kMayOpen = 2;

}  // namespace q7m
