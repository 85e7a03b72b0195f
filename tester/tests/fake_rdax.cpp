#include "fake_rdax.h"

#include <mutex>
#include <type_traits>

#include "q7m/rdax.h"

namespace fakerdax {

Call last;
std::vector<Call> calls;
uint32_t answer = 0;
std::map<std::string, uint32_t> answers;
bool complete = false;
const void* openHandle = nullptr;
uint32_t openError = 0;
std::string openName;
std::vector<uintptr_t> openSettings;

void Reset() {
  last = {};
  calls.clear();
  answer = 0;
  answers.clear();
  complete = false;
  openHandle = nullptr;
  openError = 0;
  openName.clear();
  openSettings.clear();
}

template <typename T>
uintptr_t Word(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<uintptr_t>(value);
  } else {
    return static_cast<uintptr_t>(value);
  }
}

// Completion events are the only untyped pointers among the arguments.
template <typename T>
void Complete(T value) {
  if constexpr (std::is_same_v<T, Q7M_HANDLE>) {
    if (complete && value != nullptr) Q7M_SetEvent(value);
  }
}

// The UI thread (Stop, GetResult) and the worker call at once.
std::mutex recordMutex;

template <typename... T>
uint32_t Record(const char* name, T... args) {
  std::lock_guard lock(recordMutex);
  last = {name, {Word(args)...}};
  calls.push_back(last);
  (Complete(args), ...);
  const auto it = answers.find(name);
  return it != answers.end() ? it->second : answer;
}

}  // namespace fakerdax

using fakerdax::Record;
using H = const RDAX*;
using E = Q7M_HANDLE;
using Chip = RdaxChipData;
using Cards = RdaxContactlessCards;

// clang-format off
extern "C" {
const RDAX* RDAX_OpenDevice(const char* name, const RDAX_OPEN_PARAMS* params) {
  Record(__func__, name, params);
  fakerdax::openName = name != nullptr ? name : "(null)";
  fakerdax::openSettings.clear();
  if (params != nullptr) fakerdax::openSettings.assign(params->words, params->words + RDAX_OPEN_PARAM_WORDS);
  if (fakerdax::openHandle == nullptr) Q7M_SetLastError(fakerdax::openError);
  return static_cast<const RDAX*>(fakerdax::openHandle);
}
uint32_t RDAX_CloseDevice(H h) { return Record(__func__, h); }
uint32_t RDAX_GetResult(H h) { return Record(__func__, h); }
uint32_t RDAX_Cancel(H h) { return Record(__func__, h); }
uint32_t RDAX_StartRestriction(H h) { return Record(__func__, h); }
uint32_t RDAX_EndRestriction(H h) { return Record(__func__, h); }
uint32_t RDAX_GetCapabilities(H h, RDAX_CAPABILITIES* c, E e) { return Record(__func__, h, c, e); }
uint32_t RDAX_GetStatus(H h, RDAX_STATUS* s, E e) { return Record(__func__, h, s, e); }
uint32_t RDAX_InitialReset(H h, E e) { return Record(__func__, h, e); }
uint32_t RDAX_PrepareTransactionSetting(H h, const RDAX_TRANSACTION_SETTING* s, E e) { return Record(__func__, h, s, e); }
uint32_t RDAX_MonitorCardStatus(H h, uint32_t t, RDAX_CARD_STATUS* s, E e) { return Record(__func__, h, t, s, e); }
uint32_t RDAX_ReadMagTrack(H h, uint32_t m, RDAX_TRACK_DATA* t, E e) { return Record(__func__, h, m, t, e); }
uint32_t RDAX_ClearReadData(H h, E e) { return Record(__func__, h, e); }
uint32_t RDAX_Lock(H h, E e) { return Record(__func__, h, e); }
uint32_t RDAX_Unlock(H h, E e) { return Record(__func__, h, e); }
uint32_t RDAX_ActivateICC(H h, uint32_t r, Chip* a, E e) { return Record(__func__, h, r, a, e); }
uint32_t RDAX_DeactivateICC(H h, E e) { return Record(__func__, h, e); }
uint32_t RDAX_CommunicateICC(H h, const Chip* i, Chip* o, E e) { return Record(__func__, h, i, o, e); }
uint32_t RDAX_ActivateSAM(H h, uint32_t s, uint32_t r, Chip* a, E e) { return Record(__func__, h, s, r, a, e); }
uint32_t RDAX_DeactivateSAM(H h, uint32_t s, E e) { return Record(__func__, h, s, e); }
uint32_t RDAX_CommunicateSAM(H h, uint32_t s, const Chip* i, Chip* o, E e) { return Record(__func__, h, s, i, o, e); }
uint32_t RDAX_GetSAMStatus(H h, uint32_t s, uint16_t* st, E e) { return Record(__func__, h, s, st, e); }
uint32_t RDAX_ActivateMemoryCard(H h, uint32_t t, Chip* a, E e) { return Record(__func__, h, t, a, e); }
uint32_t RDAX_DeactivateMemoryCard(H h, E e) { return Record(__func__, h, e); }
uint32_t RDAX_CommunicateMemoryCard(H h, const Chip* i, Chip* o, E e) { return Record(__func__, h, i, o, e); }
uint32_t RDAX_VerifyMemoryCard(H h, const Chip* i, E e) { return Record(__func__, h, i, e); }
uint32_t RDAX_ActivateContactless(H h, uint32_t t, uint32_t s, Cards* c, E e) { return Record(__func__, h, t, s, c, e); }
uint32_t RDAX_DeactivateContactless(H h, E e) { return Record(__func__, h, e); }
uint32_t RDAX_MifareAuthenticate(H h, const Cards* c, uint8_t n, uint8_t k, uint8_t s, const uint8_t* key, E e) { return Record(__func__, h, c, n, k, s, key, e); }
uint32_t RDAX_MifareRead(H h, const Cards* c, uint8_t n, uint8_t a, uint8_t* b, E e) { return Record(__func__, h, c, n, a, b, e); }
uint32_t RDAX_MifareWrite(H h, const Cards* c, uint8_t n, uint8_t a, const uint8_t* b, E e) { return Record(__func__, h, c, n, a, b, e); }
uint32_t RDAX_TypeBAttribute(H h, const Cards* c, uint8_t n, const RDAX_TYPEB_ATTRIBUTE* a, const Chip* i, Chip* o, E e) { return Record(__func__, h, c, n, a, i, o, e); }
uint32_t RDAX_TypeBCommunication(H h, const Cards* c, uint8_t n, const Chip* i, Chip* o, E e) { return Record(__func__, h, c, n, i, o, e); }
uint32_t RDAX_TurnonLED(H h, uint32_t c, E e) { return Record(__func__, h, c, e); }
uint32_t RDAX_TurnoffLED(H h, E e) { return Record(__func__, h, e); }
uint32_t RDAX_BlinkLED(H h, uint32_t c, uint32_t y, E e) { return Record(__func__, h, c, y, e); }
uint32_t RDAX_GetSensorLevel(H h, uint32_t* l, E e) { return Record(__func__, h, l, e); }
uint32_t RDAX_GetVersion(H h, uint32_t s, RDAX_VERSION* v, E e) { return Record(__func__, h, s, v, e); }
uint32_t RDAX_GetSerialNumber(H h, char* b, E e) { return Record(__func__, h, b, e); }
uint32_t RDAX_GetModelNumber(H h, char* b, E e) { return Record(__func__, h, b, e); }
uint32_t RDAX_GetErrorCount(H h, uint32_t* c, E e) { return Record(__func__, h, c, e); }
uint32_t RDAX_GetActionCount(H h, uint32_t* c, E e) { return Record(__func__, h, c, e); }
uint32_t RDAX_GetICCStandardType(H h, int32_t* s, E e) { return Record(__func__, h, s, e); }
uint32_t RDAX_GetSAMStandardType(H h, int32_t* s, E e) { return Record(__func__, h, s, e); }
uint32_t RDAX_SetICCStandardType(H h, uint32_t s, E e) { return Record(__func__, h, s, e); }
uint32_t RDAX_SetSAMStandardType(H h, uint32_t s, E e) { return Record(__func__, h, s, e); }
uint32_t RDAX_SetLEDControlMode(H h, uint32_t m, E e) { return Record(__func__, h, m, e); }
uint32_t RDAX_ExecuteDownload(H h, const char* f, E e) { return Record(__func__, h, f, e); }
uint32_t RDAX_LogErrorData(H h, const char* t) { return Record(__func__, h, t); }
uint32_t RDAX_SendCommand(H h, const char* c, uint32_t l, uint32_t st, char* r, uint32_t rs, uint32_t* rl, uint32_t rt, E e) { return Record(__func__, h, c, l, st, r, rs, rl, rt, e); }
uint32_t RDAX_SetHostWDTReset(H h, uint32_t m, uint32_t r, uint32_t t, E e) { return Record(__func__, h, m, r, t, e); }
}
// clang-format on
