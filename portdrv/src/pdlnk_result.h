// Result codes used inside the port driver (the same numbering as the
// exports), and the helpers that keep the last-error value across cleanup.
#pragma once

#include <cstdint>

#include "q7m/last_error_keeper.h"
#include "q7m/pdlnk.h"
#include "q7m/platform_sys.h"
#include "q7m/system_failure.h"

namespace q7m {

constexpr uint32_t kPdOk = PDLNK_SUCCESS;
constexpr uint32_t kPdInvalidHandle = PDLNK_INVALID_HANDLE;
constexpr uint32_t kPdTimeout = PDLNK_TIMEOUT;
constexpr uint32_t kPdCancelled = PDLNK_CANCELLED;
constexpr uint32_t kPdTooLong = PDLNK_MESSAGE_TOO_LONG;
constexpr uint32_t kPdMalformed = PDLNK_MALFORMED_RESPONSE;
constexpr uint32_t kPdDecryptedTooLong = PDLNK_DECRYPTED_TOO_LONG;
constexpr uint32_t kPdRemoved = PDLNK_DEVICE_REMOVED;
constexpr uint32_t kPdNotFound = PDLNK_DEVICE_NOT_FOUND;
constexpr uint32_t kPdNoMoreDevices = PDLNK_NO_MORE_DEVICES;
constexpr uint32_t kPdSlotsFull = PDLNK_HANDLE_SLOTS_FULL;
constexpr uint32_t kPdWrongSize = PDLNK_WRONG_RECORD_SIZE;
constexpr uint32_t kPdNotSupported = PDLNK_NOT_SUPPORTED;
constexpr uint32_t kPdLineFault = PDLNK_LINE_FAULT;
constexpr uint32_t kPdSystemError = PDLNK_SYSTEM_ERROR;

static_assert(kPdSystemError == kSystemFailureResult);
// The platform's SystemFailure under the name this library's code uses.
inline constexpr auto& SystemError = SystemFailure;

}  // namespace q7m
