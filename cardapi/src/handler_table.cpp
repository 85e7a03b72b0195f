// The handler of each operation code. A family adds its handlers here; an
// operation without one answers "line error" through the dispatcher.
#include <array>

#include "handlers.h"
#include "request.h"

namespace q7m::rdax {

namespace {

uint32_t DoNothing(const RdaxRequest&) {
  return RDAX_OK;
}

uint32_t NotOffered(const RdaxRequest&) {
  return RDAX_F_LINE;
}

constexpr std::array<Handler, kOperationCount> BuildTable() {
  std::array<Handler, kOperationCount> table{};
  // Chip cards.
  table[10] = &HandleActivateIcc;
  table[11] = &HandleDeactivateIcc;
  table[12] = &HandleCommunicateIcc;
  table[13] = &HandleActivateSam;
  table[14] = &HandleDeactivateSam;
  table[15] = &HandleCommunicateSam;
  table[16] = &HandleGetSamStatus;
  table[17] = &HandleActivateMemoryCard;
  table[18] = &HandleDeactivateMemoryCard;
  table[19] = &HandleCommunicateMemoryCard;
  table[20] = &HandleVerifyMemoryCard;
  // Contactless cards.
  table[42] = &HandleDeactivateContactless;
  table[43] = &HandleActivateContactless;
  table[44] = &HandleMifareAuthenticate;
  table[45] = &HandleMifareRead;
  table[46] = &HandleMifareWrite;
  table[47] = &HandleTypeBAttribute;
  table[49] = &HandleTypeBCommunication;
  table[kOpSendCommand] = &HandleSendCommand;
  table[kOpNothing] = &DoNothing;
  table[kOpNotOffered] = &NotOffered;
  // Security and download.
  table[kOpExecuteDownload] = &HandleExecuteDownload;
  table[40] = &HandleRecovery;
  table[41] = &HandleSetHostWatchdog;
  table[50] = &HandleSetTamperDetectionMode;
  table[51] = &HandleGetTamperDetectionMode;
  table[52] = &HandleSetRearDestroyDetectionMode;
  table[53] = &HandleGetRearDestroyDetectionMode;
  // Device information, status and LEDs.
  table[1] = &HandleGetCapabilities;
  table[2] = &HandleGetStatus;
  table[21] = &HandleTurnonLED;
  table[22] = &HandleTurnoffLED;
  table[23] = &HandleBlinkLED;
  table[27] = &HandleGetSensorLevel;
  table[28] = &HandleGetVersion;
  table[29] = &HandleGetSerialNumber;
  table[30] = &HandleGetModelNumber;
  table[31] = &HandleGetErrorCount;
  table[32] = &HandleGetActionCount;
  table[33] = &HandleGetICCStandardType;
  table[34] = &HandleGetSAMStandardType;
  table[35] = &HandleSetICCStandardType;
  table[36] = &HandleSetSAMStandardType;
  table[37] = &HandleSetLEDControlMode;
  // Card transport and magnetic stripe.
  table[3] = &HandleInitialReset;
  table[4] = &HandlePrepareTransactionSetting;
  table[5] = &HandleMonitorCardStatus;
  table[6] = &HandleReadMagTrack;
  table[7] = &HandleClearReadData;
  table[8] = &HandleLock;
  table[9] = &HandleUnlock;
  return table;
}

constexpr std::array<Handler, kOperationCount> kHandlers = BuildTable();

}  // namespace

Handler HandlerFor(uintptr_t operation) {
  return operation < kHandlers.size() ? kHandlers[operation] : nullptr;
}

}  // namespace q7m::rdax
