// The buffers RigTool hands to the API library: one per kind of output, and
// the inputs built from the parameter boxes. They outlive each call (an
// asynchronous call fills them after it has returned), and the contactless
// card record stays as the input of the later Mifare and Type B calls.
#pragma once

#include <cstdint>

#include "q7m/rdax.h"

namespace q7m::rigtool {

constexpr uint32_t kSendCommandBufferSize = 4096;
constexpr uint32_t kTextBufferSize = 1024;
constexpr uint32_t kMifareKeySize = 6;
constexpr uint32_t kMifareBlockSize = 16;

struct ToolRecords {
  RDAX_CAPABILITIES capabilities;
  RDAX_STATUS status;
  RDAX_TRANSACTION_SETTING transaction;
  RDAX_CARD_STATUS cardStatus;
  RDAX_TRACK_DATA tracks;
  RdaxChipData chipCommand;
  RdaxChipData chipResponse;
  RdaxChipData samCommand;
  RdaxChipData samResponse;
  uint16_t samStatus;
  RdaxContactlessCards contactless;
  uint8_t mifareKey[kMifareKeySize];
  uint8_t mifareBlock[kMifareBlockSize];
  RDAX_TYPEB_ATTRIBUTE typeBAttribute;
  uint32_t sensors[4];
  RDAX_VERSION version;
  char serialNumber[kTextBufferSize];
  char modelNumber[kTextBufferSize];
  uint32_t errorCounters[16];
  uint32_t actionCounters[4];
  int32_t iccStandard;
  int32_t samStandard;
  char sendCommand[kSendCommandBufferSize];
  char sendResponse[kSendCommandBufferSize];
  uint32_t sendResponseLength;
};

}  // namespace q7m::rigtool
