// libFuzzer target: every family's handlers reading what a reader answers.
// Byte 0 chooses the operation, bytes 1 to 4 its arguments; the rest are the
// reader's replies to the operation's commands, one after the other (see
// reply_feed.h), so chained chip and Type B replies, the security commands'
// "V0" round and the download's whole dialogue are reached. Every output
// lives in a heap block of exactly the size the export documents, filled
// with a marker first: ASan traps a write beyond it, and an operation that
// reports success with an output it never set traps here.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download_file.h"
#include "handlers.h"
#include "q7m/rdax.h"
#include "reply_feed.h"

namespace {

using namespace q7m::rdax;

constexpr uint8_t kMarker = 0xA5;
constexpr uint32_t kMarker32 = 0xA5A5A5A5u;

// A caller's output or input block of exactly `size` bytes.
class Block {
 public:
  explicit Block(size_t size) : size_(size), bytes_(static_cast<uint8_t*>(std::malloc(size))) {
    std::memset(bytes_, kMarker, size);
  }
  ~Block() { std::free(bytes_); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  template <typename T>
  T* as() const {
    return reinterpret_cast<T*>(bytes_);
  }
  uintptr_t word() const { return reinterpret_cast<uintptr_t>(bytes_); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  uint8_t* bytes_;
};

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

bool Terminated(const char* text, size_t size) {
  return std::memchr(text, '\0', size) != nullptr;
}

// A chip input record of `length` bytes (at most one beyond the limit, which
// must be refused) and protocol `kind`.
void FillChipInput(Block& block, uint8_t lengthHigh, uint8_t lengthLow, int32_t kind) {
  auto* input = block.as<RdaxChipData>();
  input->kind = kind;
  input->length = ((uint32_t{lengthHigh} << 8) | lengthLow) % (RDAX_CHIP_DATA_MAX + 2);
  for (uint32_t i = 0; i < RDAX_CHIP_DATA_MAX; ++i) input->data[i] = static_cast<uint8_t>(i);
}

// A card record as an activation leaves it: one Mifare and one Type B card.
void FillCards(Block& block) {
  auto* cards = block.as<RdaxContactlessCards>();
  std::memset(cards, 0, sizeof *cards);
  cards->mark = RDAX_CONTACTLESS_MARK;
  cards->mifareCount = 1;
  cards->typeBCount = 1;
  cards->card[0].type = RDAX_CARD_MIFARE;
  std::memcpy(cards->card[0].id, "\x11\x22\x33\x44", 4);
  cards->card[1].type = RDAX_CARD_TYPEB;
  std::memcpy(cards->card[1].id, "\x55\x66\x77\x88", 4);
}

// After success, a chip record's kind and length were set.
void RequireChipOutput(const Block& block) {
  const auto* output = block.as<RdaxChipData>();
  Require(output->length != kMarker32);
}

// A valid download file of three 16-byte blocks, fit for the mask version
// "MASK0001TYPE" revision "01" sum 0x123456, in a private directory that
// goes when the fuzzer ends.
std::string downloadDirectory;
std::string downloadFile;

void RemoveDownloadFile() {
  ::unlink(downloadFile.c_str());
  ::rmdir(downloadDirectory.c_str());
}

void WriteDownloadFile() {
  DownloadHeader header;
  header.blockSize = 16;
  header.blockCount = 3;
  header.downloadText = "FUZZ DOWNLOAD";
  header.entryCount = 1;
  header.entries[0].type = "MASK0001TYPE";
  header.entries[0].revision = "01";
  header.entries[0].sum = 0x123456;
  std::string bytes;
  std::string error;
  if (!FormatDownloadHeader(header, &bytes, &error)) {
    std::fprintf(stderr, "download file: %s\n", error.c_str());
    std::abort();
  }
  bytes.append(header.blockSize * header.blockCount, 'I');
  char directory[] = "/tmp/q7m-fuzz-replies-XXXXXX";
  if (::mkdtemp(directory) == nullptr) std::abort();
  downloadDirectory = directory;
  downloadFile = downloadDirectory + "/image.dwn";
  std::atexit(RemoveDownloadFile);
  std::FILE* f = std::fopen(downloadFile.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

uint32_t Run(Handler handler, uintptr_t p0 = 0, uintptr_t p1 = 0, uintptr_t p2 = 0,
             uintptr_t p3 = 0, uintptr_t p4 = 0) {
  RdaxRequest request{};
  request.handle = 1;  // never looked at: the feed stands for the device
  request.param[0] = p0;
  request.param[1] = p1;
  request.param[2] = p2;
  request.param[3] = p3;
  request.param[4] = p4;
  return handler(request);
}

constexpr uint32_t kOperations = 40;

void RunOperation(uint8_t operation, const uint8_t a[4]) {
  switch (operation % kOperations) {
    case 0: {
      Block caps(sizeof(RDAX_CAPABILITIES));
      Run(HandleGetCapabilities, caps.word());
      break;
    }
    case 1: {
      Block status(sizeof(RDAX_STATUS));
      status.as<RDAX_STATUS>()->extraSamChip = 0;
      if (Run(HandleGetStatus, status.word()) == RDAX_OK)
        Require(status.as<RDAX_STATUS>()->mediaStatus != 0xA5A5);
      break;
    }
    case 2: {
      Block levels(4 * sizeof(uint32_t));
      if (Run(HandleGetSensorLevel, levels.word()) == RDAX_OK)
        for (int i = 0; i < 4; ++i) Require(levels.as<uint32_t>()[i] != kMarker32);
      break;
    }
    case 3: {
      Block version(sizeof(RDAX_VERSION));
      const uint32_t r = Run(HandleGetVersion, a[0] % 6, version.word());
      if (RDAX_SEVERITY(r) == RDAX_SEVERITY_SUCCESS && r != RDAX_E_PARAMETER) {
        const auto* v = version.as<RDAX_VERSION>();
        Require(Terminated(v->type, sizeof v->type) && Terminated(v->revision, sizeof v->revision));
      }
      break;
    }
    case 4:
    case 5: {
      const bool serial = operation % kOperations == 4;
      Block text(serial ? RDAX_SERIAL_NUMBER_SIZE : RDAX_MODEL_NUMBER_SIZE);
      if (Run(serial ? HandleGetSerialNumber : HandleGetModelNumber, text.word()) == RDAX_OK)
        Require(Terminated(text.as<char>(), text.size()));
      break;
    }
    case 6:
    case 7: {
      const bool errors = operation % kOperations == 6;
      const size_t count = errors ? 16 : 4;
      Block counters(count * sizeof(uint32_t));
      if (Run(errors ? HandleGetErrorCount : HandleGetActionCount, counters.word()) == RDAX_OK)
        for (size_t i = 0; i < count; ++i) Require(counters.as<uint32_t>()[i] != kMarker32);
      break;
    }
    case 8:
    case 9: {
      Block standard(sizeof(int32_t));
      const Handler h =
          operation % kOperations == 8 ? HandleGetICCStandardType : HandleGetSAMStandardType;
      if (Run(h, standard.word()) == RDAX_OK) Require(*standard.as<uint32_t>() != kMarker32);
      break;
    }
    case 10:
      Run(a[1] & 1 ? HandleSetSAMStandardType : HandleSetICCStandardType, a[0] % 8);
      break;
    case 11:
      Run(HandleBlinkLED, a[0] % 5, a[1] % 6);
      break;
    case 12:
      Run(HandleInitialReset);
      break;
    case 13: {
      Block setting(sizeof(RDAX_TRANSACTION_SETTING));
      auto* s = setting.as<RDAX_TRANSACTION_SETTING>();
      *s = {a[0] % 4u, a[1] % 9u, a[2] & 1u, a[3] & 1u};
      Run(HandlePrepareTransactionSetting, setting.word());
      break;
    }
    case 14: {
      Block status(sizeof(RDAX_CARD_STATUS));
      if (Run(HandleMonitorCardStatus, a[0] % 101, status.word()) == RDAX_OK)
        for (uint32_t digit : status.as<RDAX_CARD_STATUS>()->digit) Require(digit <= 9);
      break;
    }
    case 15: {
      Block tracks(sizeof(RDAX_TRACK_DATA));
      const uint32_t mask = a[0] % 8;
      const uint32_t r = Run(HandleReadMagTrack, mask, tracks.word());
      if (r == RDAX_OK || (r >= RDAX_W_TRACK_FIRST && r <= RDAX_W_TRACK_LAST)) {
        const auto* t = tracks.as<RDAX_TRACK_DATA>();
        for (int track = 0; track < 3; ++track)
          if (mask & (1u << track)) Require(t->result[track] != kMarker32);
      }
      break;
    }
    case 16:
      Run(a[0] & 1 ? HandleUnlock : HandleClearReadData);
      break;
    case 17: {
      Block answer(sizeof(RdaxChipData));
      const uint32_t r = Run(HandleActivateIcc, a[0] % 3, answer.word());
      if (r == RDAX_OK || r == RDAX_W_ICC_ATR_87) RequireChipOutput(answer);
      break;
    }
    case 18:
      Run(a[0] & 1 ? HandleDeactivateMemoryCard : HandleDeactivateIcc);
      break;
    case 19: {
      Block input(sizeof(RdaxChipData));
      Block output(sizeof(RdaxChipData));
      FillChipInput(input, a[1], a[2], a[0] % 3);
      if (Run(HandleCommunicateIcc, input.word(), output.word()) == RDAX_OK)
        RequireChipOutput(output);
      break;
    }
    case 20: {
      Block answer(sizeof(RdaxChipData));
      if (Run(HandleActivateSam, a[0] % 7, a[1] % 3, answer.word()) == RDAX_OK)
        RequireChipOutput(answer);
      break;
    }
    case 21:
      Run(HandleDeactivateSam, a[0] % 7);
      break;
    case 22: {
      Block input(sizeof(RdaxChipData));
      Block output(sizeof(RdaxChipData));
      FillChipInput(input, a[1], a[2], a[3] % 3);
      if (Run(HandleCommunicateSam, a[0] % 7, input.word(), output.word()) == RDAX_OK)
        RequireChipOutput(output);
      break;
    }
    case 23: {
      Block status(sizeof(uint16_t));
      Run(HandleGetSamStatus, a[0] % 7, status.word());
      if (!q7m::rdaxfuzz::ResultStored()) Require(*status.as<uint16_t>() != 0xA5A5);
      break;
    }
    case 24: {
      Block answer(sizeof(RdaxChipData));
      if (Run(HandleActivateMemoryCard, a[0] % 5, answer.word()) == RDAX_OK)
        RequireChipOutput(answer);
      break;
    }
    case 25: {
      Block input(sizeof(RdaxChipData));
      Block output(sizeof(RdaxChipData));
      FillChipInput(input, a[1], a[2], a[0] % 4);
      if (Run(HandleCommunicateMemoryCard, input.word(), output.word()) == RDAX_OK)
        RequireChipOutput(output);
      break;
    }
    case 26: {
      Block input(sizeof(RdaxChipData));
      FillChipInput(input, a[1], a[2], 0);
      Run(HandleVerifyMemoryCard, input.word());
      break;
    }
    case 27: {
      Block cards(sizeof(RdaxContactlessCards));
      std::memset(cards.as<void>(), 0, cards.size());
      cards.as<RdaxContactlessCards>()->mark = RDAX_CONTACTLESS_MARK;
      static constexpr uintptr_t kTypes[4] = {RDAX_CONTACTLESS_MIFARE, RDAX_CONTACTLESS_TYPEB,
                                              RDAX_CONTACTLESS_BOTH, 0};
      Run(HandleActivateContactless, kTypes[a[0] % 4], a[1] % 101, cards.word());
      break;
    }
    case 28:
      Run(HandleDeactivateContactless);
      break;
    case 29: {
      Block cards(sizeof(RdaxContactlessCards));
      FillCards(cards);
      Block key(6);
      const uintptr_t packed = static_cast<uintptr_t>(a[0] % 3) | uintptr_t{a[1] % 3u} << 8 |
                               uintptr_t{a[2] % 18u} << 16;
      Run(HandleMifareAuthenticate, cards.word(), packed, key.word());
      break;
    }
    case 30:
    case 31: {
      Block cards(sizeof(RdaxContactlessCards));
      FillCards(cards);
      Block block(16);
      const uintptr_t packed = static_cast<uintptr_t>(a[0] % 3) | uintptr_t{a[1] % 66u} << 8;
      Run(operation % kOperations == 30 ? HandleMifareRead : HandleMifareWrite, cards.word(),
          packed, block.word());
      break;
    }
    case 32: {
      Block cards(sizeof(RdaxContactlessCards));
      FillCards(cards);
      Block attribute(sizeof(RDAX_TYPEB_ATTRIBUTE));
      auto* at = attribute.as<RDAX_TYPEB_ATTRIBUTE>();
      std::memset(at, 0, sizeof *at);
      *at = RDAX_TYPEB_ATTRIBUTE{RDAX_TYPEB_ATTRIBUTE_MARK, 1, 1, 0, 0, 0, 8, 0, 0, 1, 0, 15, {}};
      Block input(sizeof(RdaxChipData));
      FillChipInput(input, 0, a[2], 0);
      Block output(sizeof(RdaxChipData));
      const uint32_t r =
          Run(HandleTypeBAttribute, cards.word(), a[0] % 3, a[1] & 1 ? attribute.word() : 0,
              a[1] & 2 ? input.word() : 0, output.word());
      if (r == RDAX_OK) RequireChipOutput(output);
      break;
    }
    case 33: {
      Block cards(sizeof(RdaxContactlessCards));
      FillCards(cards);
      Block input(sizeof(RdaxChipData));
      Block output(sizeof(RdaxChipData));
      FillChipInput(input, a[1], a[2], 0);
      if (Run(HandleTypeBCommunication, cards.word(), a[0] % 3, input.word(), output.word()) ==
          RDAX_OK)
        RequireChipOutput(output);
      break;
    }
    case 34:
      Run(a[1] & 1 ? HandleSetRearDestroyDetectionMode : HandleSetTamperDetectionMode, a[0] % 3);
      break;
    case 35: {
      Block mode(sizeof(int32_t));
      const Handler h = a[1] & 1 ? HandleGetRearDestroyDetectionMode : HandleGetTamperDetectionMode;
      if (Run(h, mode.word()) == RDAX_OK) {
        const int32_t m = *mode.as<int32_t>();
        Require(m >= -1 && m <= 1);
      }
      break;
    }
    case 36:
      Run(HandleRecovery);
      break;
    case 37:
      Run(HandleSetHostWatchdog, a[0] % 101, a[1] % 11, a[2] % 101);
      break;
    case 38: {
      // The handler owns a heap copy of the name, as the dispatcher makes it.
      const std::string name = downloadFile;
      Run(HandleExecuteDownload, reinterpret_cast<uintptr_t>(name.c_str()));
      break;
    }
    case 39:
      Run(HandleTurnonLED, a[0] % 5);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  WriteDownloadFile();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  q7m::rdaxfuzz::FeedReplies(data + 5, size - 5);
  RunOperation(data[0], data + 1);
  return 0;
}
