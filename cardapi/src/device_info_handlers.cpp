// The device information, status and LED operations: capabilities, status
// with its device-status tables, sensor levels, versions, serial and model
// number, counters, chip standards and the front LED.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "device_status.h"
#include "exchange.h"
#include "handlers.h"
#include "reply_fields.h"

namespace q7m::rdax {

// ---- capabilities ----

uint32_t HandleGetCapabilities(const RdaxRequest& request) {
  auto* caps = Param<RDAX_CAPABILITIES>(request, 0);
  if (caps == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  *caps = RDAX_CAPABILITIES{};
  caps->type = 3;
  caps->chipProtocols = 3;
  caps->securityType = 1;
  caps->powerOnOption = 1;
  caps->powerOffOption = 1;
  caps->readWriteAfterEject = 1;
  caps->chipPower = 14;

  Exchange exchange;
  uint32_t r = exchange.Run(request.device(), "CN0", 3);
  if (r == RDAX_OK) r = exchange.Check();
  if (r != RDAX_OK) return r;
  ReplyReader reply(exchange.response());
  for (uint32_t track = 0; track < 3; ++track) {
    if (reply.At(8 + track, '0') == '1') caps->readTracks |= static_cast<uint16_t>(1u << track);
  }
  const char contactless = reply.At(12, '0');
  if (contactless == '0') {
    caps->extraContactless = 1;
  } else if (contactless >= '1' && contactless <= '9') {
    // The digit is a bit set: 1, 2 and 4 stand for 2, 4 and 8.
    const unsigned d = static_cast<unsigned>(contactless - '0');
    caps->extraContactless =
        static_cast<uint16_t>(((d & 1) ? 2 : 0) | ((d & 2) ? 4 : 0) | ((d & 4) ? 8 : 0));
  }
  const char sam = reply.At(25, '0');
  if (sam == '1') caps->extraSam = 2;
  if (sam == '2') caps->extraSam = 1;
  return reply.Outcome();
}

// ---- status ----

namespace {

void SetDeviceStatus(RDAX_STATUS* status, uint16_t device) {
  status->deviceStatus = device;
  status->chipStatus = device == RDAX_DEVICE_BUSY             ? 2
                       : device == RDAX_DEVICE_HARDWARE_ERROR ? 4
                                                              : 7;
}

// The error code of a refusal; an answer without one (the cancel reply, or
// one cut short) stands for no device status.
uint16_t DeviceStatusOfRefusal(const ResponseView& reply) {
  const auto code = reply.Status();
  return code ? DeviceStatusFromCode((*code)[0], (*code)[1]) : RDAX_DEVICE_ONLINE;
}

}  // namespace

uint32_t HandleGetStatus(const RdaxRequest& request) {
  auto* status = Param<RDAX_STATUS>(request, 0);
  if (status == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uint16_t samChip = status->extraSamChip;
  *status = RDAX_STATUS{};
  status->binStatus = 2;
  status->securityStatus = 1;
  status->chipStatus = 7;
  status->extraSamChip = samChip;

  Exchange exchange;
  const RDAX* handle = request.device();
  uint32_t r = exchange.Run(handle, "C10", 3);
  if (r != RDAX_OK) {
    SetDeviceStatus(status, DeviceStatusFromResult(r));
    return r;
  }
  if (exchange.response().Kind() != 'P') {
    const uint16_t device = DeviceStatusOfRefusal(exchange.response());
    if (device != RDAX_DEVICE_ONLINE) {
      SetDeviceStatus(status, device);
      return exchange.Check();
    }
  }

  status->deviceStatus = RDAX_DEVICE_ONLINE;
  r = exchange.Run(handle, "C11", 3);
  if (r != RDAX_OK) {
    SetDeviceStatus(status, DeviceStatusFromResult(r));
    return r;
  }
  if (exchange.response().Kind() != 'P') {
    SetDeviceStatus(status, DeviceStatusOfRefusal(exchange.response()));
    return exchange.Check();
  }
  bool complete = true;
  const auto slot = exchange.response().Status();
  if (!slot) complete = false;
  const std::string_view s = slot.value_or("  ");
  if (s == "00") {
    status->mediaStatus = 2, status->chipStatus = 5;
  } else if (s == "01") {
    status->mediaStatus = 6, status->chipStatus = 5;
  } else if (s == "02" || s == "10") {
    status->mediaStatus = 1, status->chipStatus = 1;
  } else if (s == "11" || s == "20" || s == "21" || s == "22" || s == "23") {
    status->mediaStatus = 1, status->chipStatus = 0;
  } else {
    status->mediaStatus = 0, status->chipStatus = 7;
  }

  r = exchange.Run(handle, "CN0", 3);
  if (r != RDAX_OK) {
    SetDeviceStatus(status, DeviceStatusFromResult(r));
    return r;
  }
  if (exchange.response().Kind() == 'P') {
    ReplyReader reply(exchange.response());
    uint16_t sams = 0;
    for (uint32_t i = 0; i < 5; ++i) {
      if (reply.At(26 + i, '0') != '0') sams |= static_cast<uint16_t>(1u << i);
    }
    status->extraSamChip = sams;
    complete = complete && reply.complete();
  } else {
    SetDeviceStatus(status, DeviceStatusOfRefusal(exchange.response()));
  }
  const uint32_t evaluation = exchange.Check();
  return evaluation == RDAX_OK && !complete ? RDAX_E_FAULTY_REPLY : evaluation;
}

// ---- sensor levels, versions, serial and model number, counters ----

uint32_t HandleGetSensorLevel(const RdaxRequest& request) {
  auto* levels = Param<uint32_t>(request, 0);
  if (levels == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  Exchange exchange;
  uint32_t r = exchange.Run(request.device(), "CL0", 3);
  if (r == RDAX_OK) r = exchange.Check();
  if (r != RDAX_OK) return r;
  ReplyReader reply(exchange.response());
  for (uint32_t i = 0; i < 4; ++i) levels[i] = reply.Decimal(5 + 2 * i, 2);
  return reply.Outcome();
}

uint32_t HandleGetVersion(const RdaxRequest& request) {
  const uint32_t selector = Value(request, 0);
  auto* version = Param<RDAX_VERSION>(request, 1);
  if (version == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  if (selector < RDAX_VERSION_MASK || selector > RDAX_VERSION_SAM_FIRMWARE)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  const char* command = selector <= RDAX_VERSION_FIRMWARE      ? "CV0"
                        : selector == RDAX_VERSION_IC_FIRMWARE ? "CV1"
                                                               : "CV2";
  Exchange exchange;
  uint32_t r = exchange.Run(request.device(), command, 3);
  if (RDAX_SEVERITY(r) != RDAX_SEVERITY_SUCCESS) return r;
  r = exchange.Check();
  if (RDAX_SEVERITY(r) != RDAX_SEVERITY_SUCCESS) return r;
  // Where the type starts and how many hexadecimal digits its sum has.
  const uint32_t at = selector == RDAX_VERSION_FIRMWARE ? 45 : 5;
  const uint32_t sumDigits = selector == RDAX_VERSION_MASK ? 6 : 8;
  ReplyReader reply(exchange.response());
  reply.Text(at, 12, version->type);
  reply.Text(at + 12, 2, version->revision);
  version->sum = reply.Hex(at + 14, sumDigits);
  return reply.Outcome(r);
}

namespace {

// "CUE": the model number at 5 (20 characters), the serial number at 25 (6).
uint32_t ReadIdentity(const RdaxRequest& request, uint32_t offset, uint32_t count) {
  auto* text = Param<char>(request, 0);
  if (text == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  Exchange exchange;
  uint32_t r = exchange.Run(request.device(), "CUE", 3);
  if (r == RDAX_OK) r = exchange.Check();
  // A reader that refuses with "00" has no such number: an empty text.
  const bool refusedWith00 = r == RDAX_W_READER_COMMAND_00;
  if (r != RDAX_OK && !refusedWith00) return r;
  ReplyReader reply(exchange.response());
  reply.Text(offset, count, text);
  return refusedWith00 ? RDAX_OK : reply.Outcome();
}

}  // namespace

uint32_t HandleGetSerialNumber(const RdaxRequest& request) {
  return ReadIdentity(request, 25, RDAX_SERIAL_NUMBER_SIZE - 1);
}

uint32_t HandleGetModelNumber(const RdaxRequest& request) {
  return ReadIdentity(request, 5, RDAX_MODEL_NUMBER_SIZE - 1);
}

namespace {

// "CM0" carries twenty 8-digit counters at 5 + 8 x k; each export picks its
// own, by index k.
template <size_t N>
uint32_t ReadCounters(const RdaxRequest& request, const uint8_t (&indexes)[N]) {
  auto* counters = Param<uint32_t>(request, 0);
  if (counters == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  Exchange exchange;
  uint32_t r = exchange.Run(request.device(), "CM0", 3);
  if (r == RDAX_OK) r = exchange.Check();
  if (r != RDAX_OK) return r;
  ReplyReader reply(exchange.response());
  for (size_t i = 0; i < N; ++i) counters[i] = reply.Decimal(5 + 8u * indexes[i], 8);
  return reply.Outcome();
}

}  // namespace

uint32_t HandleGetErrorCount(const RdaxRequest& request) {
  static constexpr uint8_t kErrors[16] = {3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  return ReadCounters(request, kErrors);
}

uint32_t HandleGetActionCount(const RdaxRequest& request) {
  static constexpr uint8_t kActions[4] = {0, 1, 2, 7};
  return ReadCounters(request, kActions);
}

// ---- chip standards ----

namespace {

uint32_t ReadStandard(const RdaxRequest& request, uint32_t offset) {
  auto* standard = Param<int32_t>(request, 0);
  if (standard == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  Exchange exchange;
  uint32_t r = exchange.Run(request.device(), "CY0", 3);
  if (r == RDAX_OK) r = exchange.Check();
  if (r != RDAX_OK) return r;
  const auto field = exchange.response().Field(offset, 2);
  if (!field) {
    *standard = RDAX_ICSTD_UNKNOWN;
    return RDAX_E_FAULTY_REPLY;
  }
  *standard = *field == "??" ? RDAX_ICSTD_UNKNOWN
                             : static_cast<int32_t>(*exchange.response().Decimal(offset, 2));
  return RDAX_OK;
}

}  // namespace

uint32_t HandleGetICCStandardType(const RdaxRequest& request) {
  return ReadStandard(request, 5);
}

uint32_t HandleGetSAMStandardType(const RdaxRequest& request) {
  return ReadStandard(request, 12);
}

namespace {

uint32_t SetStandard(const RdaxRequest& request, const char* head) {
  const uint32_t standard = Value(request, 0);
  if (standard != RDAX_SET_ICSTD_ISO && standard != RDAX_SET_ICSTD_SPECIAL01 &&
      standard != RDAX_SET_ICSTD_EMV && standard != RDAX_SET_ICSTD_ZKA)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  char command[8];
  std::snprintf(command, sizeof command, "%s%02u", head, standard);
  return SendAndEvaluate(request, command, 5);
}

}  // namespace

uint32_t HandleSetICCStandardType(const RdaxRequest& request) {
  return SetStandard(request, "CY6");
}

uint32_t HandleSetSAMStandardType(const RdaxRequest& request) {
  return SetStandard(request, "CY7");
}

// ---- LED ----

namespace {

bool ValidColour(uint32_t colour) {
  return colour >= RDAX_SET_LED_GREEN && colour <= RDAX_SET_LED_ORANGE;
}

}  // namespace

uint32_t HandleTurnonLED(const RdaxRequest& request) {
  const uint32_t colour = Value(request, 0);
  if (!ValidColour(colour)) return StoreArgumentError(request, RDAX_E_PARAMETER);
  const char command[4] = {'C', 'P', '7', static_cast<char>('0' + colour)};
  return SendAndEvaluate(request, command, 4);
}

uint32_t HandleTurnoffLED(const RdaxRequest& request) {
  return SendAndEvaluate(request, "CP6", 3);
}

uint32_t HandleBlinkLED(const RdaxRequest& request) {
  const uint32_t colour = Value(request, 0);
  const uint32_t cycle = Value(request, 1);
  if (!ValidColour(colour) || cycle > RDAX_SET_LED_BLINK1_4HZ)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  // The reader counts its blink cycles the other way round: "5" is the
  // fastest (4 Hz), "1" the slowest.
  const char command[5] = {'C', 'P', '8', static_cast<char>('0' + colour),
                           static_cast<char>('5' - cycle)};
  return SendAndEvaluate(request, command, 5);
}

uint32_t HandleSetLEDControlMode(const RdaxRequest& request) {
  const uint32_t mode = Value(request, 0);
  if (mode != RDAX_SET_LED_MANUAL && mode != RDAX_SET_LED_AUTOMATIC)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  const char command[4] = {'C', 'N', '3', static_cast<char>('0' + mode)};
  return SendAndEvaluate(request, command, 4);
}

}  // namespace q7m::rdax
