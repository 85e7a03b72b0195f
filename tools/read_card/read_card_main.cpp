// q7m-readcard: waits for a magnetic card and reads its tracks through the
// card-reader API, as a terminal application does: reset, reading on
// insertion, card status monitoring, track read. An engineer's check that a
// reader (or the emulator) reads cards end to end through every layer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "q7m/platform.h"
#include "q7m/rdax.h"

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: q7m-readcard [--speed BPS] [--wait SECONDS] DEVICE\n"
               "\n"
               "Opens DEVICE (COM1..COM9 for a serial reader, a USB serial number, or\n"
               "USB for the first USB reader found), resets it, sets it to read tracks\n"
               "1 to 3 as a card goes in, waits up to SECONDS (default 30, at most 99) for\n"
               "a card and prints what was read from each track.\n"
               "\n"
               "exit status: 0 a card was read (a track may still report an error),\n"
               "1 no card came or the reader failed, 2 usage or open error\n");
}

bool ParseNumber(const char* text, uint32_t max, uint32_t* value) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || v > max) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool Ok(const char* step, uint32_t result) {
  if (RDAX_SEVERITY(result) == RDAX_SEVERITY_SUCCESS) return true;
  std::printf("%s failed: 0x%08X\n", step, result);
  return false;
}

int ReadCard(const RDAX* reader, uint32_t waitSeconds) {
  if (!Ok("reset", RDAX_InitialReset(reader, nullptr))) return 1;
  RDAX_TRANSACTION_SETTING setting{RDAX_READ_ON_INSERT, RDAX_TRACK_ALL, 0, 0};
  if (!Ok("transaction setting", RDAX_PrepareTransactionSetting(reader, &setting, nullptr)))
    return 1;
  RDAX_CARD_STATUS card{};
  std::printf("insert a card (waiting up to %u s)\n", waitSeconds);
  std::fflush(stdout);
  if (!Ok("card status monitoring", RDAX_MonitorCardStatus(reader, waitSeconds, &card, nullptr)))
    return 1;
  std::printf("card status %u%u%u%u%u\n", card.digit[0], card.digit[1], card.digit[2],
              card.digit[3], card.digit[4]);
  if (card.digit[1] == 0) {
    std::printf("no card\n");
    return 1;
  }
  RDAX_TRACK_DATA tracks{};
  const uint32_t result = RDAX_ReadMagTrack(reader, RDAX_TRACK_ALL, &tracks, nullptr);
  const uint8_t* data[3] = {tracks.track1, tracks.track2, tracks.track3};
  for (int t = 0; t < 3; ++t) {
    std::printf("track %d: 0x%08X %.*s\n", t + 1, tracks.result[t], tracks.length[t],
                reinterpret_cast<const char*>(data[t]));
  }
  return RDAX_SEVERITY(result) <= RDAX_SEVERITY_WARNING ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t speed = 0;
  uint32_t waitSeconds = 30;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      Usage(stdout);
      return 0;
    }
    if ((option == "--speed" || option == "--wait") && i + 1 < argc) {
      const bool isSpeed = option == "--speed";
      if (!ParseNumber(argv[++i], isSpeed ? 0xFFFFFFFFu : 99u, isSpeed ? &speed : &waitSeconds)) {
        std::fprintf(stderr, "q7m-readcard: %s needs a number%s\n", option.c_str(),
                     isSpeed ? "" : " up to 99");
        return 2;
      }
      continue;
    }
    std::fprintf(stderr, "q7m-readcard: unknown option %s\n", option.c_str());
    Usage(stderr);
    return 2;
  }
  if (argc - i != 1) {
    Usage(stderr);
    return 2;
  }
  const std::string device = argv[i];
  RDAX_OPEN_PARAMS params{};
  params.words[1] = speed;
  // "USB" alone asks for the first USB reader found, with the default block.
  const RDAX* reader = device == "USB" ? RDAX_OpenDevice(nullptr, nullptr)
                                       : RDAX_OpenDevice(device.c_str(), &params);
  if (reader == nullptr) {
    const uint32_t error = Q7M_GetLastError();
    char text[256];
    Q7M_FormatMessage(error, text, sizeof text);
    std::fprintf(stderr, "q7m-readcard: cannot open %s: error %u: %s\n", device.c_str(), error,
                 text);
    return 2;
  }
  const int status = ReadCard(reader, waitSeconds);
  RDAX_CloseDevice(reader);
  return status;
}
