#include "call_table.h"

#include <cstring>
#include <vector>

#include "api_list.h"
#include "data_text.h"
#include "number_text.h"
#include "typeb_attribute.h"

namespace q7m::rigtool {
namespace {

constexpr size_t kTypeBAttributeBytes = 9;

// The arguments of one call, converted on demand. A data text that does not
// parse (or would not fit its buffer) marks the call refused; the row then
// makes no call.
class Args {
 public:
  Args(const CallInput& input, ToolRecords& records) : in_(input), r(records) {}

  const RDAX* handle() const { return in_.handle; }
  Q7M_HANDLE event() const { return in_.event; }
  uint32_t N(int i) const { return ConvertNumber(in_.params[static_cast<size_t>(i)]); }
  uint8_t Byte(int i) const { return static_cast<uint8_t>(N(i)); }
  const char* Text(int i) const { return in_.params[static_cast<size_t>(i)].c_str(); }
  bool Empty(int i) const { return in_.params[static_cast<size_t>(i)].empty(); }

  template <typename T>
  T* Cleared(T* record) {
    std::memset(record, 0, sizeof *record);
    return record;
  }

  // A command block: cleared, then the protocol and the bytes of text i.
  RdaxChipData* Chip(RdaxChipData* block, int32_t protocol, int i) {
    Cleared(block);
    block->kind = protocol;
    block->length = static_cast<uint32_t>(Bytes(i, block->data, sizeof block->data));
    return block;
  }
  // The bytes of text i into a cleared buffer; their count.
  size_t Bytes(int i, void* buffer, size_t capacity) {
    std::memset(buffer, 0, capacity);
    std::vector<uint8_t> bytes;
    if (!ParseDataText(in_.params[static_cast<size_t>(i)], &bytes) || bytes.size() > capacity) {
      status_ = CallStatus::kDataRefused;
      return 0;
    }
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    return bytes.size();
  }
  // The Type B attribute record from text i, null when the text is empty.
  const RDAX_TYPEB_ATTRIBUTE* Attribute(int i) {
    if (Empty(i)) return nullptr;
    std::vector<uint8_t> bytes;
    if (!ParseDataText(in_.params[static_cast<size_t>(i)], &bytes) ||
        bytes.size() != kTypeBAttributeBytes) {
      status_ = CallStatus::kAttributeRefused;
      return nullptr;
    }
    std::array<uint8_t, kTypeBAttributeBytes> b{};
    std::memcpy(b.data(), bytes.data(), b.size());
    r.typeBAttribute = BuildTypeBAttribute(b);
    return &r.typeBAttribute;
  }

  bool Ok() const { return status_ == CallStatus::kCalled; }
  CallStatus status() const { return status_; }

 private:
  const CallInput& in_;
  CallStatus status_ = CallStatus::kCalled;

 public:
  ToolRecords& r;
};

using Row = uint32_t (*)(Args&);

// A row's answer when its arguments were refused; never passed on.
constexpr uint32_t kNotCalled = kDataTextRefused;

const std::array<Row, kApiCount> kCallTable = {
    // 0 GetCapabilities
    [](Args& a) {
      return RDAX_GetCapabilities(a.handle(), a.Cleared(&a.r.capabilities), a.event());
    },
    // 1 GetStatus
    [](Args& a) { return RDAX_GetStatus(a.handle(), a.Cleared(&a.r.status), a.event()); },
    // 2 InitialReset
    [](Args& a) { return RDAX_InitialReset(a.handle(), a.event()); },
    // 3 PrepareTransactionSetting
    [](Args& a) {
      a.r.transaction = {a.N(0), a.N(1), a.N(2), a.N(3)};
      return RDAX_PrepareTransactionSetting(a.handle(), &a.r.transaction, a.event());
    },
    // 4 MonitorCardStatus
    [](Args& a) {
      return RDAX_MonitorCardStatus(a.handle(), a.N(0), a.Cleared(&a.r.cardStatus), a.event());
    },
    // 5 ReadMagTrack
    [](Args& a) {
      return RDAX_ReadMagTrack(a.handle(), a.N(0), a.Cleared(&a.r.tracks), a.event());
    },
    // 6 ClearReadData
    [](Args& a) { return RDAX_ClearReadData(a.handle(), a.event()); },
    // 7 Lock
    [](Args& a) { return RDAX_Lock(a.handle(), a.event()); },
    // 8 Unlock
    [](Args& a) { return RDAX_Unlock(a.handle(), a.event()); },
    // 9 ActivateICC
    [](Args& a) {
      return RDAX_ActivateICC(a.handle(), a.N(0), a.Cleared(&a.r.chipResponse), a.event());
    },
    // 10 DeactivateICC
    [](Args& a) { return RDAX_DeactivateICC(a.handle(), a.event()); },
    // 11 CommunicateICC
    [](Args& a) {
      const RdaxChipData* in = a.Chip(&a.r.chipCommand, static_cast<int32_t>(a.N(0)), 1);
      if (!a.Ok()) return kNotCalled;
      return RDAX_CommunicateICC(a.handle(), in, a.Cleared(&a.r.chipResponse), a.event());
    },
    // 12 ActivateSAM
    [](Args& a) {
      return RDAX_ActivateSAM(a.handle(), a.N(0), a.N(1), a.Cleared(&a.r.samResponse), a.event());
    },
    // 13 DeactivateSAM
    [](Args& a) { return RDAX_DeactivateSAM(a.handle(), a.N(0), a.event()); },
    // 14 CommunicateSAM
    [](Args& a) {
      const RdaxChipData* in = a.Chip(&a.r.samCommand, static_cast<int32_t>(a.N(1)), 2);
      if (!a.Ok()) return kNotCalled;
      return RDAX_CommunicateSAM(a.handle(), a.N(0), in, a.Cleared(&a.r.samResponse), a.event());
    },
    // 15 GetSAMStatus: the status is not cleared, so a failed call shows the last one
    [](Args& a) { return RDAX_GetSAMStatus(a.handle(), a.N(0), &a.r.samStatus, a.event()); },
    // 16 ActivateMemoryCard
    [](Args& a) {
      return RDAX_ActivateMemoryCard(a.handle(), a.N(0), a.Cleared(&a.r.chipResponse), a.event());
    },
    // 17 DeactivateMemoryCard
    [](Args& a) { return RDAX_DeactivateMemoryCard(a.handle(), a.event()); },
    // 18 CommunicateMemoryCard
    [](Args& a) {
      const RdaxChipData* in = a.Chip(&a.r.chipCommand, 0, 0);
      if (!a.Ok()) return kNotCalled;
      return RDAX_CommunicateMemoryCard(a.handle(), in, a.Cleared(&a.r.chipResponse), a.event());
    },
    // 19 VerifyMemoryCard
    [](Args& a) {
      const RdaxChipData* in = a.Chip(&a.r.chipCommand, 0, 0);
      if (!a.Ok()) return kNotCalled;
      return RDAX_VerifyMemoryCard(a.handle(), in, a.event());
    },
    // 20 ActivateContactless: the record is kept for the calls that follow
    [](Args& a) {
      a.r.contactless.mark = RDAX_CONTACTLESS_MARK;
      return RDAX_ActivateContactless(a.handle(), a.N(0), a.N(1), &a.r.contactless, a.event());
    },
    // 21 DeactivateContactless
    [](Args& a) { return RDAX_DeactivateContactless(a.handle(), a.event()); },
    // 22 MifareAuthenticate
    [](Args& a) {
      a.Bytes(2, a.r.mifareKey, sizeof a.r.mifareKey);
      if (!a.Ok()) return kNotCalled;
      return RDAX_MifareAuthenticate(a.handle(), &a.r.contactless, 0, a.Byte(0), a.Byte(1),
                                     a.r.mifareKey, a.event());
    },
    // 23 MifareRead
    [](Args& a) {
      return RDAX_MifareRead(a.handle(), &a.r.contactless, 0, a.Byte(0), a.r.mifareBlock,
                             a.event());
    },
    // 24 MifareWrite
    [](Args& a) {
      a.Bytes(1, a.r.mifareBlock, sizeof a.r.mifareBlock);
      if (!a.Ok()) return kNotCalled;
      return RDAX_MifareWrite(a.handle(), &a.r.contactless, 0, a.Byte(0), a.r.mifareBlock,
                              a.event());
    },
    // 25 TypeBAttribute: an empty attribute or data text passes null
    [](Args& a) {
      const RDAX_TYPEB_ATTRIBUTE* attribute = a.Attribute(0);
      if (!a.Ok()) return kNotCalled;
      const RdaxChipData* in = a.Empty(1) ? nullptr : a.Chip(&a.r.chipCommand, 0, 1);
      if (!a.Ok()) return kNotCalled;
      return RDAX_TypeBAttribute(a.handle(), &a.r.contactless, 0, attribute, in,
                                 a.Cleared(&a.r.chipResponse), a.event());
    },
    // 26 TypeBCommunication
    [](Args& a) {
      const RdaxChipData* in = a.Chip(&a.r.chipCommand, 0, 0);
      if (!a.Ok()) return kNotCalled;
      return RDAX_TypeBCommunication(a.handle(), &a.r.contactless, 0, in,
                                     a.Cleared(&a.r.chipResponse), a.event());
    },
    // 27 TurnonLED
    [](Args& a) { return RDAX_TurnonLED(a.handle(), a.N(0), a.event()); },
    // 28 TurnoffLED
    [](Args& a) { return RDAX_TurnoffLED(a.handle(), a.event()); },
    // 29 BlinkLED
    [](Args& a) { return RDAX_BlinkLED(a.handle(), a.N(0), a.N(1), a.event()); },
    // 30 GetSensorLevel
    [](Args& a) { return RDAX_GetSensorLevel(a.handle(), *a.Cleared(&a.r.sensors), a.event()); },
    // 31 GetVersion
    [](Args& a) { return RDAX_GetVersion(a.handle(), a.N(0), a.Cleared(&a.r.version), a.event()); },
    // 32 GetSerialNumber
    [](Args& a) {
      return RDAX_GetSerialNumber(a.handle(), *a.Cleared(&a.r.serialNumber), a.event());
    },
    // 33 GetModelNumber
    [](Args& a) {
      return RDAX_GetModelNumber(a.handle(), *a.Cleared(&a.r.modelNumber), a.event());
    },
    // 34 GetErrorCount
    [](Args& a) {
      return RDAX_GetErrorCount(a.handle(), *a.Cleared(&a.r.errorCounters), a.event());
    },
    // 35 GetActionCount
    [](Args& a) {
      return RDAX_GetActionCount(a.handle(), *a.Cleared(&a.r.actionCounters), a.event());
    },
    // 36 GetICCStandardType
    [](Args& a) {
      return RDAX_GetICCStandardType(a.handle(), a.Cleared(&a.r.iccStandard), a.event());
    },
    // 37 GetSAMStandardType
    [](Args& a) {
      return RDAX_GetSAMStandardType(a.handle(), a.Cleared(&a.r.samStandard), a.event());
    },
    // 38 SetICCStandardType
    [](Args& a) { return RDAX_SetICCStandardType(a.handle(), a.N(0), a.event()); },
    // 39 SetSAMStandardType
    [](Args& a) { return RDAX_SetSAMStandardType(a.handle(), a.N(0), a.event()); },
    // 40 SetLEDControlMode
    [](Args& a) { return RDAX_SetLEDControlMode(a.handle(), a.N(0), a.event()); },
    // 41 ExecuteDownload
    [](Args& a) { return RDAX_ExecuteDownload(a.handle(), a.Text(0), a.event()); },
    // 42 LogErrorData: always synchronous, it takes no event
    [](Args& a) { return RDAX_LogErrorData(a.handle(), a.Text(0)); },
    // 43 SendCommand
    [](Args& a) {
      const size_t length = a.Bytes(0, a.r.sendCommand, sizeof a.r.sendCommand);
      if (!a.Ok()) return kNotCalled;
      a.r.sendResponseLength = 0;
      return RDAX_SendCommand(a.handle(), a.r.sendCommand, static_cast<uint32_t>(length), a.N(1),
                              a.r.sendResponse, kSendCommandBufferSize, &a.r.sendResponseLength,
                              a.N(2), a.event());
    },
    // 44 SetHostWDTReset
    [](Args& a) { return RDAX_SetHostWDTReset(a.handle(), a.N(0), a.N(1), a.N(2), a.event()); },
};

}  // namespace

CallOutcome CallApi(int apiIndex, const CallInput& input, ToolRecords& records) {
  Args args(input, records);
  const uint32_t result = kCallTable[static_cast<size_t>(apiIndex)](args);
  return {args.status(), result};
}

}  // namespace q7m::rigtool
