// The handlers of the operation families, one file per family.
#pragma once

#include "request.h"

namespace q7m::rdax {

// Operation 0, the raw pass-through: parameter 1 the command copy, 2 its
// length, 3 the send time limit, 4 the response buffer, 5 its size, 6 the
// length pointer, 7 the receive time limit.
uint32_t HandleSendCommand(const RdaxRequest& request);

// Security family (security_handlers.cpp). Operations 50 and 52: parameter
// 1 the mode; 51 and 53: parameter 1 the mode pointer; 40, both recoveries:
// none; 41: monitoring time, number of resets, retry reset time.
uint32_t HandleSetTamperDetectionMode(const RdaxRequest& request);
uint32_t HandleGetTamperDetectionMode(const RdaxRequest& request);
uint32_t HandleSetRearDestroyDetectionMode(const RdaxRequest& request);
uint32_t HandleGetRearDestroyDetectionMode(const RdaxRequest& request);
uint32_t HandleRecovery(const RdaxRequest& request);
uint32_t HandleSetHostWatchdog(const RdaxRequest& request);

// Firmware download (download_handlers.cpp), operation 38: parameter 1 the
// heap copy of the file name (freed by the dispatcher).
uint32_t HandleExecuteDownload(const RdaxRequest& request);

}  // namespace q7m::rdax
