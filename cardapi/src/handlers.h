// The handlers of the operation families, one file per family.
#pragma once

#include "request.h"

namespace q7m::rdax {

// Chip cards (chip_handlers.cpp), operations 10 to 20.
uint32_t HandleActivateIcc(const RdaxRequest& request);
uint32_t HandleDeactivateIcc(const RdaxRequest& request);
uint32_t HandleCommunicateIcc(const RdaxRequest& request);
uint32_t HandleActivateSam(const RdaxRequest& request);
uint32_t HandleDeactivateSam(const RdaxRequest& request);
uint32_t HandleCommunicateSam(const RdaxRequest& request);
uint32_t HandleGetSamStatus(const RdaxRequest& request);
uint32_t HandleActivateMemoryCard(const RdaxRequest& request);
uint32_t HandleDeactivateMemoryCard(const RdaxRequest& request);
uint32_t HandleCommunicateMemoryCard(const RdaxRequest& request);
uint32_t HandleVerifyMemoryCard(const RdaxRequest& request);

// Contactless cards (contactless_handlers.cpp), operations 42 to 47 and 49.
uint32_t HandleDeactivateContactless(const RdaxRequest& request);
uint32_t HandleActivateContactless(const RdaxRequest& request);
uint32_t HandleMifareAuthenticate(const RdaxRequest& request);
uint32_t HandleMifareRead(const RdaxRequest& request);
uint32_t HandleMifareWrite(const RdaxRequest& request);
uint32_t HandleTypeBAttribute(const RdaxRequest& request);
uint32_t HandleTypeBCommunication(const RdaxRequest& request);

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

// Device information, status and LEDs (device_info_handlers.cpp).
uint32_t HandleGetCapabilities(const RdaxRequest& request);
uint32_t HandleGetStatus(const RdaxRequest& request);
uint32_t HandleTurnonLED(const RdaxRequest& request);
uint32_t HandleTurnoffLED(const RdaxRequest& request);
uint32_t HandleBlinkLED(const RdaxRequest& request);
uint32_t HandleGetSensorLevel(const RdaxRequest& request);
uint32_t HandleGetVersion(const RdaxRequest& request);
uint32_t HandleGetSerialNumber(const RdaxRequest& request);
uint32_t HandleGetModelNumber(const RdaxRequest& request);
uint32_t HandleGetErrorCount(const RdaxRequest& request);
uint32_t HandleGetActionCount(const RdaxRequest& request);
uint32_t HandleGetICCStandardType(const RdaxRequest& request);
uint32_t HandleGetSAMStandardType(const RdaxRequest& request);
uint32_t HandleSetICCStandardType(const RdaxRequest& request);
uint32_t HandleSetSAMStandardType(const RdaxRequest& request);
uint32_t HandleSetLEDControlMode(const RdaxRequest& request);

// Card transport and magnetic stripe (card_transport_handlers.cpp).
uint32_t HandleInitialReset(const RdaxRequest& request);
uint32_t HandlePrepareTransactionSetting(const RdaxRequest& request);
uint32_t HandleMonitorCardStatus(const RdaxRequest& request);
uint32_t HandleReadMagTrack(const RdaxRequest& request);
uint32_t HandleClearReadData(const RdaxRequest& request);
uint32_t HandleLock(const RdaxRequest& request);
uint32_t HandleUnlock(const RdaxRequest& request);

}  // namespace q7m::rdax
