// The exports that run through the dispatcher: each names its description
// and hands its arguments to the frame.
#include <cstdlib>
#include <cstring>

#include "export_table.h"
#include "q7m/rdax.h"

using namespace q7m::rdax;
namespace x = q7m::rdax::exports;

namespace q7m::rdax::exports {

namespace {

// Copies the text or bytes of parameter 1 to the heap: the caller may reuse
// its buffer as soon as an asynchronous call returns.
uint32_t CopyParam1(RdaxRequest& request, size_t size) {
  void* copy = std::malloc(size);
  if (copy == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
    return RDAX_F_SYSTEM;
  }
  std::memcpy(copy, reinterpret_cast<const void*>(request.param[0]), size);
  request.param[0] = reinterpret_cast<uintptr_t>(copy);
  return RDAX_OK;
}

}  // namespace

uint32_t PrepareSendCommand(RdaxRequest& request) {
  if (request.param[0] == 0) return RDAX_E_NULL_ARGUMENT;
  const auto length = static_cast<uint32_t>(request.param[1]);
  if (length == 0) return RDAX_E_PARAMETER;
  return CopyParam1(request, length);
}

uint32_t PrepareDownload(RdaxRequest& request) {
  if (request.param[0] == 0) return RDAX_E_NULL_ARGUMENT;
  return CopyParam1(request, std::strlen(reinterpret_cast<const char*>(request.param[0])) + 1);
}

}  // namespace q7m::rdax::exports

extern "C" {

Q7M_EXPORT uint32_t Q7M_API RDAX_SendCommand(const RDAX* h, const char* command,
                                             uint32_t commandLength, uint32_t sendTimeout,
                                             char* response, uint32_t responseSize,
                                             uint32_t* responseLength, uint32_t receiveTimeout,
                                             Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kSendCommand, h, ev,
                             {Word(command), Word(commandLength), Word(sendTimeout), Word(response),
                              Word(responseSize), Word(responseLength), Word(receiveTimeout)});
}

// ---- device information, status, LEDs ----

Q7M_EXPORT uint32_t Q7M_API RDAX_GetCapabilities(const RDAX* h, RDAX_CAPABILITIES* caps,
                                                 Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetCapabilities, h, ev, {Word(caps)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetStatus(const RDAX* h, RDAX_STATUS* status, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetStatus, h, ev, {Word(status)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_TurnonLED(const RDAX* h, uint32_t colour, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kTurnonLED, h, ev, {Word(colour)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_TurnoffLED(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kTurnoffLED, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_BlinkLED(const RDAX* h, uint32_t colour, uint32_t cycle,
                                          Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kBlinkLED, h, ev, {Word(colour), Word(cycle)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetSensorLevel(const RDAX* h, uint32_t* levels, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetSensorLevel, h, ev, {Word(levels)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetVersion(const RDAX* h, uint32_t selector, RDAX_VERSION* version,
                                            Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetVersion, h, ev, {Word(selector), Word(version)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetSerialNumber(const RDAX* h, char* buffer, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetSerialNumber, h, ev, {Word(buffer)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetModelNumber(const RDAX* h, char* buffer, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetModelNumber, h, ev, {Word(buffer)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetErrorCount(const RDAX* h, uint32_t* counters, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetErrorCount, h, ev, {Word(counters)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetActionCount(const RDAX* h, uint32_t* counters, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetActionCount, h, ev, {Word(counters)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetICCStandardType(const RDAX* h, int32_t* standard,
                                                    Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetICCStandardType, h, ev, {Word(standard)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetSAMStandardType(const RDAX* h, int32_t* standard,
                                                    Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetSAMStandardType, h, ev, {Word(standard)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_SetICCStandardType(const RDAX* h, uint32_t standard,
                                                    Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kSetICCStandardType, h, ev, {Word(standard)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_SetSAMStandardType(const RDAX* h, uint32_t standard,
                                                    Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kSetSAMStandardType, h, ev, {Word(standard)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_SetLEDControlMode(const RDAX* h, uint32_t mode, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kSetLEDControlMode, h, ev, {Word(mode)});
}

// ---- card transport and magnetic stripe ----

Q7M_EXPORT uint32_t Q7M_API RDAX_InitialReset(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kInitialReset, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_PrepareTransactionSetting(const RDAX* h,
                                                           const RDAX_TRANSACTION_SETTING* setting,
                                                           Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kPrepareTransactionSetting, h, ev, {Word(setting)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_MonitorCardStatus(const RDAX* h, uint32_t seconds,
                                                   RDAX_CARD_STATUS* status, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kMonitorCardStatus, h, ev, {Word(seconds), Word(status)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_ReadMagTrack(const RDAX* h, uint32_t mask, RDAX_TRACK_DATA* tracks,
                                              Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kReadMagTrack, h, ev, {Word(mask), Word(tracks)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_ClearReadData(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kClearReadData, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_Lock(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kLock, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_Unlock(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kUnlock, h, ev, {});
}

// ---- chip cards ----

Q7M_EXPORT uint32_t Q7M_API RDAX_ActivateICC(const RDAX* h, uint32_t reset, RdaxChipData* answer,
                                             Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kActivateICC, h, ev, {Word(reset), Word(answer)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_DeactivateICC(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kDeactivateICC, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_CommunicateICC(const RDAX* h, const RdaxChipData* input,
                                                RdaxChipData* output, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kCommunicateICC, h, ev, {Word(input), Word(output)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_ActivateSAM(const RDAX* h, uint32_t sam, uint32_t reset,
                                             RdaxChipData* answer, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kActivateSAM, h, ev, {Word(sam), Word(reset), Word(answer)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_DeactivateSAM(const RDAX* h, uint32_t sam, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kDeactivateSAM, h, ev, {Word(sam)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_CommunicateSAM(const RDAX* h, uint32_t sam,
                                                const RdaxChipData* input, RdaxChipData* output,
                                                Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kCommunicateSAM, h, ev, {Word(sam), Word(input), Word(output)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetSAMStatus(const RDAX* h, uint32_t sam, uint16_t* status,
                                              Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetSAMStatus, h, ev, {Word(sam), Word(status)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_ActivateMemoryCard(const RDAX* h, uint32_t type,
                                                    RdaxChipData* answer, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kActivateMemoryCard, h, ev, {Word(type), Word(answer)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_DeactivateMemoryCard(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kDeactivateMemoryCard, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_CommunicateMemoryCard(const RDAX* h, const RdaxChipData* input,
                                                       RdaxChipData* output, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kCommunicateMemoryCard, h, ev, {Word(input), Word(output)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_VerifyMemoryCard(const RDAX* h, const RdaxChipData* input,
                                                  Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kVerifyMemoryCard, h, ev, {Word(input)});
}

// ---- contactless cards ----

Q7M_EXPORT uint32_t Q7M_API RDAX_ActivateContactless(const RDAX* h, uint32_t type, uint32_t seconds,
                                                     RdaxContactlessCards* cards, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kActivateContactless, h, ev,
                             {Word(type), Word(seconds), Word(cards)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_DeactivateContactless(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kDeactivateContactless, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_MifareAuthenticate(const RDAX* h,
                                                    const RdaxContactlessCards* cards, uint8_t card,
                                                    uint8_t keyType, uint8_t sector,
                                                    const uint8_t* key, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kMifareAuthenticate, h, ev,
                             {Word(cards), Word(card), Word(keyType), Word(sector), Word(key)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_MifareRead(const RDAX* h, const RdaxContactlessCards* cards,
                                            uint8_t card, uint8_t address, uint8_t* block,
                                            Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kMifareRead, h, ev,
                             {Word(cards), Word(card), Word(address), Word(block)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_MifareWrite(const RDAX* h, const RdaxContactlessCards* cards,
                                             uint8_t card, uint8_t address, const uint8_t* block,
                                             Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kMifareWrite, h, ev,
                             {Word(cards), Word(card), Word(address), Word(block)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_TypeBAttribute(const RDAX* h, const RdaxContactlessCards* cards,
                                                uint8_t card, const RDAX_TYPEB_ATTRIBUTE* attribute,
                                                const RdaxChipData* input, RdaxChipData* output,
                                                Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kTypeBAttribute, h, ev,
                             {Word(cards), Word(card), Word(attribute), Word(input), Word(output)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_TypeBCommunication(const RDAX* h,
                                                    const RdaxContactlessCards* cards, uint8_t card,
                                                    const RdaxChipData* input, RdaxChipData* output,
                                                    Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kTypeBCommunication, h, ev,
                             {Word(cards), Word(card), Word(input), Word(output)});
}

// ---- security and recovery ----

Q7M_EXPORT uint32_t Q7M_API RDAX_SetTamperDetectionMode(const RDAX* h, uint32_t mode,
                                                        Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kSetTamperDetectionMode, h, ev, {Word(mode)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetTamperDetectionMode(const RDAX* h, int32_t* mode,
                                                        Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetTamperDetectionMode, h, ev, {Word(mode)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_SetRearDestroyDetectionMode(const RDAX* h, uint32_t mode,
                                                             Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kSetRearDestroyDetectionMode, h, ev, {Word(mode)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_GetRearDestroyDetectionMode(const RDAX* h, int32_t* mode,
                                                             Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kGetRearDestroyDetectionMode, h, ev, {Word(mode)});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_RecoverFromAbnormalStatus(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kRecoverFromAbnormalStatus, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_RecoverFromRearDestroy(const RDAX* h, Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kRecoverFromRearDestroy, h, ev, {});
}
Q7M_EXPORT uint32_t Q7M_API RDAX_SetHostWDTReset(const RDAX* h, uint32_t monitoringTime,
                                                 uint32_t resets, uint32_t retryTime,
                                                 Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kSetHostWDTReset, h, ev,
                             {Word(monitoringTime), Word(resets), Word(retryTime)});
}

// ---- firmware download ----

Q7M_EXPORT uint32_t Q7M_API RDAX_ExecuteDownload(const RDAX* h, const char* fileName,
                                                 Q7M_HANDLE ev) {
  return RunDispatchedExport(x::kExecuteDownload, h, ev, {Word(fileName)});
}

}  // extern "C"
