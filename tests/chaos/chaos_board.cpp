#include "chaos_board.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>

namespace chaos {

Board* MapBoard(const std::string& path, bool create) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_TRUNC : 0), 0600);
  if (fd < 0) return nullptr;
  if (create && ::ftruncate(fd, sizeof(Board)) != 0) {
    ::close(fd);
    return nullptr;
  }
  void* view = ::mmap(nullptr, sizeof(Board), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  return view == MAP_FAILED ? nullptr : static_cast<Board*>(view);
}

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

namespace {
constexpr uint32_t kDataMutex = 5000;
constexpr uint32_t kLock = 100;
}  // namespace

const char* const kFamilyNames[kFamilies] = {"device-info", "card-transport", "chip",
                                             "contactless", "security",       "download",
                                             "raw"};

uint32_t ApiLimitMs(uint32_t exchanges, uint32_t exchangeSeconds, uint32_t waitMs) {
  return 3 * kLock + 6 * kDataMutex + 3000 + exchanges * (exchangeSeconds * 1000 + 3 * kDataMutex) +
         waitMs + LimitOf(kCancel);
}

uint32_t LimitOf(Operation operation) {
  switch (operation) {
    case kOpen:
    case kClose:
      return 2 * kDataMutex + 2000;  // the block and the port driver's own open or close
    case kApiRound:
      // Lock check, lock and unlock; ending an unfinished exchange (1 s send,
      // 2 s receive); the exchange with its three stores.
      return 3 * kLock + 6 * kDataMutex + 3000 + (kSendSeconds + kReceiveSeconds) * 1000 +
             3 * kDataMutex;
    case kXfsRound:
      return 2 * kLock + 4 * kDataMutex;
    case kCancel:
      // The one-second wait, then the end-of-transmission exchange (1 s
      // send, 20 s receive) with its stores.
      return 1000 + 21000 + 3 * kDataMutex + kDataMutex;
    default:
      return 0;
  }
}

}  // namespace chaos
