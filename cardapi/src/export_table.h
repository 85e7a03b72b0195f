// The description of every export: its API name, operation code, the
// argument fields of its trace lines, whether the restriction guards it,
// and what its exit line adds. A family adds its handlers, never a frame.
#pragma once

#include "export_frame.h"

namespace q7m::rdax::exports {

constexpr int kDirect = -1;
constexpr bool kGuarded = true;
constexpr bool kFree = false;

uint32_t PrepareSendCommand(RdaxRequest& request);
uint32_t PrepareDownload(RdaxRequest& request);

// clang-format off
// Open, close, result, cancel, raw command.
inline constexpr ExportDesc kOpenDevice{"OpenDevice", kDirect, "sx", nullptr, kFree};
inline constexpr ExportDesc kCloseDevice{"CloseDevice", kDirect, "x", nullptr, kFree};
inline constexpr ExportDesc kGetResult{"GetResult", kDirect, "x", nullptr, kFree};
inline constexpr ExportDesc kCancel{"Cancel", kDirect, "x", nullptr, kFree};
inline constexpr ExportDesc kSendCommand{"SendCommand", 0, "x", nullptr, kFree, ExitExtra::kNone,
                                         0, 0, Packing::kInOrder, &PrepareSendCommand};

// Device listing, port reset, user line.
inline constexpr ExportDesc kEnumerateDevices{"EnumerateDevices", kDirect, "x", nullptr, kFree,
                                              ExitExtra::kQ1Value};
inline constexpr ExportDesc kFindFirst{"FindFirst", kDirect, "x", nullptr, kFree,
                                       ExitExtra::kQ1Value};
inline constexpr ExportDesc kFindNext{"FindNext", kDirect, "x", nullptr, kFree,
                                      ExitExtra::kQ1Value};
inline constexpr ExportDesc kFindClose{"FindClose", kDirect, "x", nullptr, kFree};
inline constexpr ExportDesc kResetDevice{"ResetDevice", kDirect, "x", nullptr, kFree};
inline constexpr ExportDesc kLogErrorData{"LogErrorData", kDirect, "xx", "xs", kFree};

// Device information, status, LEDs.
inline constexpr ExportDesc kGetCapabilities{"GetCapabilities", 1, "xxx", nullptr, kFree};
inline constexpr ExportDesc kGetStatus{"GetStatus", 2, "xxx", nullptr, kFree};
inline constexpr ExportDesc kTurnonLED{"TurnonLED", 21, "xbx", nullptr, kFree};
inline constexpr ExportDesc kTurnoffLED{"TurnoffLED", 22, "xx", nullptr, kFree};
inline constexpr ExportDesc kBlinkLED{"BlinkLED", 23, "xbbx", nullptr, kFree};
inline constexpr ExportDesc kGetSensorLevel{"GetSensorLevel", 27, "xxx", nullptr, kFree};
inline constexpr ExportDesc kGetVersion{"GetVersion", 28, "xbxx", nullptr, kFree};
inline constexpr ExportDesc kGetSerialNumber{"GetSerialNumber", 29, "xxx", nullptr, kFree,
                                             ExitExtra::kQ2Text, 1, 6};
inline constexpr ExportDesc kGetModelNumber{"GetModelNumber", 30, "xxx", nullptr, kFree,
                                            ExitExtra::kQ2Text, 1, 20};
inline constexpr ExportDesc kGetErrorCount{"GetErrorCount", 31, "xxx", nullptr, kFree};
inline constexpr ExportDesc kGetActionCount{"GetActionCount", 32, "xxx", nullptr, kFree};
inline constexpr ExportDesc kGetICCStandardType{"GetICCStandardType", 33, "xxx", nullptr, kFree,
                                                ExitExtra::kQ1Pointee, 1};
inline constexpr ExportDesc kGetSAMStandardType{"GetSAMStandardType", 34, "xxx", nullptr, kFree,
                                                ExitExtra::kQ1Pointee, 1};
inline constexpr ExportDesc kSetICCStandardType{"SetICCStandardType", 35, "xbx", nullptr, kFree};
inline constexpr ExportDesc kSetSAMStandardType{"SetSAMStandardType", 36, "xbx", "bxx", kFree};
inline constexpr ExportDesc kSetLEDControlMode{"SetLEDControlMode", 37, "xbx", nullptr, kGuarded};

// Card transport and magnetic stripe.
inline constexpr ExportDesc kInitialReset{"InitialReset", 3, "xx", nullptr, kGuarded};
inline constexpr ExportDesc kPrepareTransactionSetting{"PrepareTransactionSetting", 4, "xxx",
                                                       nullptr, kGuarded};
inline constexpr ExportDesc kMonitorCardStatus{"MonitorCardStatus", 5, "xxxx", nullptr, kGuarded};
inline constexpr ExportDesc kReadMagTrack{"ReadMagTrack", 6, "xbxx", nullptr, kGuarded};
inline constexpr ExportDesc kClearReadData{"ClearReadData", 7, "xx", nullptr, kGuarded};
inline constexpr ExportDesc kLock{"Lock", 8, "xx", nullptr, kGuarded};
inline constexpr ExportDesc kUnlock{"Unlock", 9, "xx", nullptr, kGuarded};

// Chip cards.
inline constexpr ExportDesc kActivateICC{"ActivateICC", 10, "xbxx", nullptr, kGuarded};
inline constexpr ExportDesc kDeactivateICC{"DeactivateICC", 11, "xx", nullptr, kGuarded};
inline constexpr ExportDesc kCommunicateICC{"CommunicateICC", 12, "xxxx", nullptr, kGuarded};
inline constexpr ExportDesc kActivateSAM{"ActivateSAM", 13, "xbbxx", nullptr, kGuarded};
inline constexpr ExportDesc kDeactivateSAM{"DeactivateSAM", 14, "xbx", nullptr, kGuarded};
inline constexpr ExportDesc kCommunicateSAM{"CommunicateSAM", 15, "xbxxx", nullptr, kGuarded};
inline constexpr ExportDesc kGetSAMStatus{"GetSAMStatus", 16, "xbxx", nullptr, kFree};
inline constexpr ExportDesc kActivateMemoryCard{"ActivateMemoryCard", 17, "xbxx", nullptr,
                                                kGuarded};
inline constexpr ExportDesc kDeactivateMemoryCard{"DeactivateMemoryCard", 18, "xx", nullptr,
                                                  kGuarded};
inline constexpr ExportDesc kCommunicateMemoryCard{"CommunicateMemoryCard", 19, "xxxx", nullptr,
                                                   kGuarded};
inline constexpr ExportDesc kVerifyMemoryCard{"VerifyMemoryCard", 20, "xxx", nullptr, kGuarded};

// Contactless cards.
inline constexpr ExportDesc kActivateContactless{"ActivateContactless", 43, "xxxxx", "xbxx",
                                                 kGuarded};
inline constexpr ExportDesc kDeactivateContactless{"DeactivateContactless", 42, "xx", nullptr,
                                                   kGuarded};
inline constexpr ExportDesc kMifareAuthenticate{"MifareAuthenticate", 44, "xbxxxxx", "xbxx",
                                                kGuarded, ExitExtra::kNone, 0, 0,
                                                Packing::kThreeBytes};
inline constexpr ExportDesc kMifareRead{"MifareRead", 45, "xbxxxx", "xbxxx", kGuarded,
                                        ExitExtra::kNone, 0, 0, Packing::kTwoBytes};
inline constexpr ExportDesc kMifareWrite{"MifareWrite", 46, "xbxxxx", "xbxxx", kGuarded,
                                         ExitExtra::kNone, 0, 0, Packing::kTwoBytes};
inline constexpr ExportDesc kTypeBAttribute{"TypeBAttribute", 47, "xbxxxxx", "xbxx", kGuarded};
inline constexpr ExportDesc kTypeBCommunication{"TypeBCommunication", 49, "xbxxxx", "xbxx",
                                                kGuarded};

// Security, restriction, recovery.
inline constexpr ExportDesc kStartRestriction{"StartRestriction", kDirect, "x", nullptr, kFree};
inline constexpr ExportDesc kEndRestriction{"EndRestriction", kDirect, "x", nullptr, kFree};
inline constexpr ExportDesc kCreateNewSessionKey{"CreateNewSessionKey", kDirect, "x", nullptr,
                                                 kGuarded};
inline constexpr ExportDesc kSetTamperDetectionMode{"SetTamperDetectionMode", 50, "xxx", nullptr,
                                                    kFree};
inline constexpr ExportDesc kGetTamperDetectionMode{"GetTamperDetectionMode", 51, "xxx", nullptr,
                                                    kFree};
inline constexpr ExportDesc kSetRearDestroyDetectionMode{"SetRearDestroyDetectionMode", 52, "xxx",
                                                         nullptr, kFree};
inline constexpr ExportDesc kGetRearDestroyDetectionMode{"GetRearDestroyDetectionMode", 53, "xxx",
                                                         nullptr, kFree};
inline constexpr ExportDesc kRecoverFromAbnormalStatus{"RecoverFromAbnormalStatus", 40, "x",
                                                       nullptr, kGuarded};
inline constexpr ExportDesc kRecoverFromRearDestroy{"RecoverFromRearDestroy", 40, "x", nullptr,
                                                    kGuarded};
inline constexpr ExportDesc kSetHostWDTReset{"SetHostWDTReset", 41, "xbxxx", "xxxxx", kFree};

// Firmware download.
inline constexpr ExportDesc kExecuteDownload{"ExecuteDownload", kOpExecuteDownload, "xsx", nullptr,
                                             kGuarded, ExitExtra::kNone, 0, 0, Packing::kInOrder,
                                             &PrepareDownload};
// clang-format on

}  // namespace q7m::rdax::exports
