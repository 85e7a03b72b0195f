#include "parameter_rows.h"

namespace q7m::rigtool {
namespace {

constexpr ValueEntry kLockFlag[] = {{"TRUE", 1}, {"FALSE", 0}};
constexpr ValueEntry kLedColor[] = {{"GREEN", 1}, {"RED", 2}, {"ORANGE", 3}};
constexpr ValueEntry kLedBlinkCycle[] = {
    {"RDAX_SET_LED_BLINK4HZ", 0},   {"RDAX_SET_LED_BLINK2HZ", 1},   {"RDAX_SET_LED_BLINK1HZ", 2},
    {"RDAX_SET_LED_BLINK1_2HZ", 3}, {"RDAX_SET_LED_BLINK1_4HZ", 4},
};
constexpr ValueEntry kReadDirection[] = {
    {"NO READING", 0}, {"INSERTION READING", 1}, {"BACK READING", 2}};
constexpr ValueEntry kReadTracks[] = {
    {"NO READING", 0},    {"ISO1", 1},          {"ISO2", 2},          {"ISO3", 4},
    {"ISO1 AND ISO2", 3}, {"ISO1 AND ISO3", 5}, {"ISO2 AND ISO3", 6}, {"ISO1 AND ISO2 AND ISO3", 7},
};
constexpr ValueEntry kTracks[] = {
    {"ISO1", 1},
    {"ISO2", 2},
    {"ISO3", 4},
    {"ISO1 AND ISO2", 3},
    {"ISO1 AND ISO3", 5},
    {"ISO2 AND ISO3", 6},
    {"ISO1 AND ISO2 AND ISO3", 7},
};
constexpr ValueEntry kFirmwareType[] = {{"MASK", 1}, {"FIRM", 2}, {"ICFIRM", 3}, {"SAMFIRM", 4}};
constexpr ValueEntry kChipStandard[] = {
    {"RDAX_SET_ICSTD_ISO", 0},
    {"RDAX_SET_ICSTD_SPECIAL01", 4},
    {"RDAX_SET_ICSTD_EMV", 5},
    {"RDAX_SET_ICSTD_ZKA", 6},
};
constexpr ValueEntry kResetOption[] = {{"COLD RESET", 1}, {"WARM RESET", 2}};
constexpr ValueEntry kLedControlMode[] = {{"MANUAL", 0}, {"AUTOMATIC", 1}};
constexpr ValueEntry kChipProtocol[] = {{"RDAX_CHIPIO_PROTOCOL_T0", 1},
                                        {"RDAX_CHIPIO_PROTOCOL_T1", 2}};
constexpr ValueEntry kMemoryCard[] = {
    {"SLE 4442", 0}, {"SLE 4432", 1}, {"SLE 4428", 2}, {"SLE 4418", 3}};
constexpr ValueEntry kContactlessType[] = {{"Mifare", 2}, {"Type B", 4}, {"Mifare and Type B", 6}};

constexpr ParamRow None() {
  return {};
}
constexpr ParamRow Number(std::string_view label, ValueTable table = {}) {
  return {label, ParamKind::kNumber, table};
}
constexpr ParamRow Data(std::string_view label) {
  return {label, ParamKind::kData, {}};
}
constexpr ParamRow Text(std::string_view label) {
  return {label, ParamKind::kText, {}};
}

using Rows = std::array<ParamRow, 4>;
const Rows kNoRows = {None(), None(), None(), None()};
Rows One(ParamRow p1) {
  return {p1, None(), None(), None()};
}
Rows Two(ParamRow p1, ParamRow p2) {
  return {p1, p2, None(), None()};
}
Rows Three(ParamRow p1, ParamRow p2, ParamRow p3) {
  return {p1, p2, p3, None()};
}

const std::array<Rows, kApiCount>& AllRows() {
  static const std::array<Rows, kApiCount> kRows = {
      kNoRows,  // GetCapabilities
      kNoRows,  // GetStatus
      kNoRows,  // InitialReset
      Rows{Number("Read Direction", kReadDirection), Number("Read Tracks", kReadTracks),
           Number("Insertion-Lock", kLockFlag), Number("Pullout-Lock", kLockFlag)},
      One(Number("Monitoring Time")),                                         // MonitorCardStatus
      One(Number("Tracks", kTracks)),                                         // ReadMagTrack
      kNoRows,                                                                // ClearReadData
      kNoRows,                                                                // Lock
      kNoRows,                                                                // Unlock
      One(Number("Reset Option", kResetOption)),                              // ActivateICC
      kNoRows,                                                                // DeactivateICC
      Two(Number("Protocol", kChipProtocol), Data("Data")),                   // CommunicateICC
      Two(Number("SAM Number"), Number("Reset Option", kResetOption)),        // ActivateSAM
      One(Number("SAM Number")),                                              // DeactivateSAM
      Three(Number("SAM"), Number("Protocol", kChipProtocol), Data("Data")),  // CommunicateSAM
      One(Number("SAM Number")),                                              // GetSAMStatus
      One(Number("MemoryCard", kMemoryCard)),                                 // ActivateMemoryCard
      kNoRows,                                                           // DeactivateMemoryCard
      One(Data("Data")),                                                 // CommunicateMemoryCard
      One(Data("Data")),                                                 // VerifyMemoryCard
      Two(Number("Type", kContactlessType), Number("Monitoring Time")),  // ActivateContactless
      kNoRows,                                                           // DeactivateContactless
      Three(Number("Key Type"), Number("Sector"), Data("Key")),          // MifareAuthenticate
      One(Number("Address")),                                            // MifareRead
      Two(Number("Address"), Data("Data")),                              // MifareWrite
      Two(Data("Attrib(9bytes)"), Data("Data")),                         // TypeBAttribute
      One(Data("Data")),                                                 // TypeBCommunication
      One(Number("LED Color", kLedColor)),                               // TurnonLED
      kNoRows,                                                           // TurnoffLED
      Two(Number("LED Color", kLedColor), Number("LED Blink Cycle", kLedBlinkCycle)),  // BlinkLED
      kNoRows,                                                                 // GetSensorLevel
      One(Number("FW Type", kFirmwareType)),                                   // GetVersion
      kNoRows,                                                                 // GetSerialNumber
      kNoRows,                                                                 // GetModelNumber
      kNoRows,                                                                 // GetErrorCount
      kNoRows,                                                                 // GetActionCount
      kNoRows,                                                                 // GetICCStandardType
      kNoRows,                                                                 // GetSAMStandardType
      One(Number("Type", kChipStandard)),                                      // SetICCStandardType
      One(Number("Type", kChipStandard)),                                      // SetSAMStandardType
      One(Number("Control Mode", kLedControlMode)),                            // SetLEDControlMode
      One(Text("Filename")),                                                   // ExecuteDownload
      One(Text("User Log")),                                                   // LogErrorData
      Three(Data("Command"), Number("Send Timeout"), Number("Recv Timeout")),  // SendCommand
      Three(Number("Monitoring Time"), Number("Number of Reset"),
            Number("Retry Reset Time")),  // SetHostWDTReset
  };
  return kRows;
}

}  // namespace

const std::array<ParamRow, 4>& ParamRowsOf(int apiIndex) {
  if (apiIndex < 0 || apiIndex >= kApiCount) return kNoRows;
  return AllRows()[static_cast<size_t>(apiIndex)];
}

std::string_view RowLabel(const ParamRow& row) {
  return row.label.empty() ? kNoParameter : row.label;
}

bool RowTakesAFile(int apiIndex, size_t row) {
  return apiIndex == kExecuteDownload && row == 0;
}

std::string PickedEntryText(const ParamRow& row, std::string_view label) {
  for (const ValueEntry& entry : row.table) {
    if (entry.label == label) return std::to_string(static_cast<int32_t>(entry.number));
  }
  return {};
}

}  // namespace q7m::rigtool
