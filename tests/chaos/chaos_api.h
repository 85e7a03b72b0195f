// The whole-API chaos run: what the emulated reader is set to, so that every
// answer a worker checks names the command it belongs to (a serial number,
// sensor levels, tracks, answers to reset, a card's UID and block, each
// distinct from every other field), and the operations the workers and the
// last fresh process run.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "q7m/rdax.h"

namespace chaos {

constexpr char kSerialNumber[] = "CH4OS7";
constexpr char kModel[] = "Q7M-CHAOS-MODEL";  // the reader pads it to 20
constexpr uint32_t kSensors[4] = {12, 34, 56, 78};
constexpr char kTrack1[] = "%B5555444433332222^CHAOS/RUN^2912101?";
constexpr char kTrack2[] = ";5555444433332222=29121010000?";
constexpr char kTrack3[] = ";0177998877665544332211=7247?";
constexpr char kChipAtr[] = "3B650000C4A1B2C3D4";
constexpr char kSamAtr[] = "3B021450";  // the emulator's SAM of slot 1
// Two chip commands with answers of their own, so a swapped answer shows.
constexpr char kChipCommand[2][11] = {"00CA9F7F00", "00CA9F7E00"};
constexpr char kChipAnswer[2][17] = {"C4A05E0101019000", "7E7E7E0202029000"};
constexpr char kMifareUid[] = "C4A05E77";
constexpr uint8_t kMifareBlock = 5;
constexpr char kMifareData[] = "00112233445566778899AABBCCDDEE77";
// Modes the security getters must read back: tamper off, rear destroy on.
constexpr int32_t kTamperMode = 0;
constexpr int32_t kRearDestroyMode = 1;
// Blocks of the firmware download: enough to keep a download running for
// a while, so kills land in its blocks and not only in its two waits.
constexpr uint32_t kDownloadBlocks = 24;
constexpr uint32_t kDownloadBlockSize = 512;

// The emulator's fields for the run (ctl set READER FIELD VALUE).
std::vector<std::pair<std::string, std::string>> ReaderFields();

// The download file of the run: the reader's own mask, image text that
// reloads the running firmware type.
std::string DownloadFileBytes();

std::vector<uint8_t> HexBytes(const std::string& hex);

}  // namespace chaos
