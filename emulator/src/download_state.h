// What the reader keeps of a firmware download in progress and of the last
// one it completed.
#pragma once

#include <cstdint>
#include <string>

namespace q7msim {

enum class DownloadPhase : uint8_t {
  kIdle,       // no download
  kAnnounced,  // "d3" took the current firmware version
  kReceiving,  // "d0" set block size and count; blocks come with "d1"
};

struct DownloadState {
  DownloadPhase phase = DownloadPhase::kIdle;
  uint32_t blockSize = 0;
  uint32_t blockCount = 0;
  uint32_t blocksReceived = 0;
  uint32_t imageSum = 0;   // 32-bit sum of the image bytes received
  std::string text;        // the download text of "d0"
  uint32_t completed = 0;  // downloads ended with every block
};

}  // namespace q7msim
