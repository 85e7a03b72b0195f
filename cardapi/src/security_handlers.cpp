// The security family: tamper and rear-destroy detection modes, recovery
// from an abnormal or rear-destroyed state and the host watchdog. The mode
// setters and the recovery prove that they address this very reader by
// sending its mask version, read from the "V0" reply just before.
#include <cstdio>
#include <cstring>

#include "exchange.h"
#include "handlers.h"
#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "reply_fields.h"

namespace q7m::rdax {

namespace {

// The version reply that carries the mask version the security commands
// repeat: exactly this long, mask version at bytes 5 to 24.
constexpr uint32_t kVersionReplyLength = 67;
constexpr uint32_t kTailOffset = 5;
constexpr uint32_t kTailLength = 20;

// Refusals of "V0" that end a security command with the refusal itself.
bool EndsSecurityCommand(uint32_t evaluation) {
  switch (evaluation) {
    case RDAX_E_READER_71:
    case 0x84010008u:  // "0A"
    case 0x84010009u:  // "0B"
    case RDAX_E_READER_70:
    case RDAX_E_READER_72:
    case RDAX_F_READER_HARDWARE:
      return true;
    default:
      return false;
  }
}

// Sends `head` (mark and code, plus a mode digit for the setters) followed
// by the reader's mask version from a fresh "V0" reply.
uint32_t SendWithSecurityTail(const RdaxRequest& request, const char* head, size_t headLength) {
  Exchange exchange;
  uint32_t r = exchange.Run(request.device(), "CV0", 3);
  if (r != RDAX_OK) return r;
  const uint32_t evaluation = exchange.Check();
  if (EndsSecurityCommand(evaluation)) return evaluation;
  const ResponseView reply = exchange.response();
  if (reply.length() != kVersionReplyLength) {
    // A positive reply of another length carries no mask version to prove
    // the command with: nothing was set, so success would be a lie.
    return evaluation != RDAX_OK ? evaluation : RDAX_E_FAULTY_REPLY;
  }
  const auto tail = reply.Field(kTailOffset, kTailLength);
  char command[8 + kTailLength];
  std::memcpy(command, head, headLength);
  std::memcpy(command + headLength, tail->data(), kTailLength);
  r = exchange.Run(request.device(), command, static_cast<uint32_t>(headLength + kTailLength));
  if (r != RDAX_OK) return r;
  return exchange.Check();
}

uint32_t SetDetectionMode(const RdaxRequest& request, const char* code) {
  const uintptr_t mode = request.param[0];
  if (mode != RDAX_DETECTION_OFF && mode != RDAX_DETECTION_ON)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  const char head[] = {'C', code[0], code[1], static_cast<char>('0' + mode)};
  return SendWithSecurityTail(request, head, sizeof head);
}

uint32_t GetDetectionMode(const RdaxRequest& request, const char* code) {
  auto* mode = reinterpret_cast<int32_t*>(request.param[0]);
  if (mode == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const char command[] = {'C', code[0], code[1]};
  Exchange exchange;
  const uint32_t r = exchange.Run(request.device(), command, sizeof command);
  if (r != RDAX_OK) return r;
  const uint32_t evaluation = exchange.Check();
  if (evaluation != RDAX_OK) return evaluation;
  const auto digit = exchange.response().At(5);
  *mode = digit == '0' ? 0 : digit == '1' ? 1 : -1;
  return RDAX_OK;
}

}  // namespace

uint32_t HandleSetTamperDetectionMode(const RdaxRequest& request) {
  return SetDetectionMode(request, "SX");
}

uint32_t HandleGetTamperDetectionMode(const RdaxRequest& request) {
  return GetDetectionMode(request, "SY");
}

uint32_t HandleSetRearDestroyDetectionMode(const RdaxRequest& request) {
  return SetDetectionMode(request, "Sa");
}

uint32_t HandleGetRearDestroyDetectionMode(const RdaxRequest& request) {
  return GetDetectionMode(request, "Sb");
}

uint32_t HandleRecovery(const RdaxRequest& request) {
  return SendWithSecurityTail(request, "CXZ", 3);
}

uint32_t HandleSetHostWatchdog(const RdaxRequest& request) {
  const uintptr_t monitoring = request.param[0];
  const uintptr_t resets = request.param[1];
  const uintptr_t retry = request.param[2];
  if (monitoring > 99 || resets > 9 || retry > 99)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  char command[9];
  std::snprintf(command, sizeof command, "%s%02u%1u%02u", "CW9", static_cast<unsigned>(monitoring),
                static_cast<unsigned>(resets), static_cast<unsigned>(retry));
  Exchange exchange;
  const uint32_t r = exchange.Run(request.device(), command, 8);
  if (r != RDAX_OK) return r;
  return exchange.Check();
}

}  // namespace q7m::rdax
