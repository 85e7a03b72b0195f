#include "api_list.h"

namespace q7m::rigtool {

const std::array<std::string_view, kApiCount>& ApiNames() {
  static constexpr std::array<std::string_view, kApiCount> kNames = {
      "GetCapabilities",
      "GetStatus",
      "InitialReset",
      "PrepareTransactionSetting",
      "MonitorCardStatus",
      "ReadMagTrack",
      "ClearReadData",
      "Lock",
      "Unlock",
      "ActivateICC",
      "DeactivateICC",
      "CommunicateICC",
      "ActivateSAM",
      "DeactivateSAM",
      "CommunicateSAM",
      "GetSAMStatus",
      "ActivateMemoryCard",
      "DeactivateMemoryCard",
      "CommunicateMemoryCard",
      "VerifyMemoryCard",
      "ActivateContactless",
      "DeactivateContactless",
      "MifareAuthenticate",
      "MifareRead",
      "MifareWrite",
      "TypeBAttribute",
      "TypeBCommunication",
      "TurnonLED",
      "TurnoffLED",
      "BlinkLED",
      "GetSensorLevel",
      "GetVersion",
      "GetSerialNumber",
      "GetModelNumber",
      "GetErrorCount",
      "GetActionCount",
      "GetICCStandardType",
      "GetSAMStandardType",
      "SetICCStandardType",
      "SetSAMStandardType",
      "SetLEDControlMode",
      "ExecuteDownload",
      "LogErrorData",
      "SendCommand",
      "SetHostWDTReset",
  };
  return kNames;
}

std::string_view ApiName(int index) {
  if (index < 0 || index >= kApiCount) return {};
  return ApiNames()[static_cast<size_t>(index)];
}

int ApiIndexOfName(std::string_view name) {
  for (int i = 0; i < kApiCount; ++i) {
    if (ApiNames()[static_cast<size_t>(i)] == name) return i;
  }
  return -1;
}

int ApiIndexContaining(std::string_view text) {
  for (int i = 0; i < kApiCount; ++i) {
    if (ApiNames()[static_cast<size_t>(i)].find(text) != std::string_view::npos) return i;
  }
  return -1;
}

}  // namespace q7m::rigtool
