// The whole-API worker of the chaos run: a process that opens the shared
// reader through the card-reader API and lets several threads call exports
// of every family on it at random, synchronously and asynchronously, with
// cancels among them, until the test stops or kills it. Each thread has a
// handle of its own on USB (a serial port has one user at a time, so there
// the threads share the process's one handle); cancels go to any handle of
// the process. Every call is posted on the board with its limit while it
// runs, and every answer that names its command is checked to be the one
// the call asked for.
//
// Also the last fresh process of the run, which must get one operation of
// each family through after the kills.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "chaos_api.h"
#include "chaos_board.h"
#include "download_file.h"
#include "q7m/platform_sys.h"
#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "q7m_test.h"
#include "sequor_sim_fixture.h"

namespace chaos {

std::vector<uint8_t> HexBytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::vector<std::pair<std::string, std::string>> ReaderFields() {
  return {
      {"SerialNumber", kSerialNumber},
      {"Model", kModel},
      {"Sensors", std::to_string(kSensors[0]) + "," + std::to_string(kSensors[1]) + "," +
                      std::to_string(kSensors[2]) + "," + std::to_string(kSensors[3])},
      {"Track1", kTrack1},
      {"Track2", kTrack2},
      {"Track3", kTrack3},
      {"CardPosition", "inside"},
      {"ChipAtr", kChipAtr},
      {"ChipApduTable", std::string(kChipCommand[0]) + "=" + kChipAnswer[0] + ";" +
                            kChipCommand[1] + "=" + kChipAnswer[1]},
      {"Contactless1", std::string("mifare uid=") + kMifareUid + " block." +
                           std::to_string(kMifareBlock) + "=" + kMifareData},
      {"TamperDetection", std::to_string(kTamperMode)},
      {"RearDestroyDetection", std::to_string(kRearDestroyMode)},
  };
}

std::string DownloadFileBytes() {
  q7m::rdax::DownloadHeader h;
  h.image = {"Q7M-FW", "10", 0};
  h.blockSize = kDownloadBlockSize;
  h.blockCount = kDownloadBlocks;
  h.downloadText = "Q7M-FW      10";
  h.entryCount = 1;
  h.entries[0] = {"Q7M-MASK", "01", 0x1A2B3C};
  std::string file, error;
  if (!q7m::rdax::FormatDownloadHeader(h, &file, &error)) return {};
  for (uint32_t i = 0; i < kDownloadBlockSize * kDownloadBlocks; ++i)
    file += static_cast<char>('A' + i % 26);
  return file;
}

namespace {

constexpr int kApiThreads = 3;
static_assert(kApiThreads <= kThreads);
constexpr uint8_t kUntouched = 0xEE;  // what outputs hold before a call

enum class Outcome { kOk, kBusy, kRestricted, kRefused, kCancelled, kFaulty, kFailed, kWrong };

Outcome OutcomeOf(uint32_t result) {
  switch (result) {
    case RDAX_OK:
      return Outcome::kOk;
    case RDAX_E_BUSY:
      return Outcome::kBusy;
    case RDAX_E_RESTRICTED:
      return Outcome::kRestricted;
    case RDAX_W_CANCELLED:
      return Outcome::kCancelled;
    case RDAX_E_FAULTY_REPLY:
      return Outcome::kFaulty;
    default:
      break;
  }
  const uint32_t top = result >> 24;
  return top == 0x44 || top == 0x84 ? Outcome::kRefused : Outcome::kFailed;
}

template <typename T>
void Untouch(T* record) {
  std::memset(static_cast<void*>(record), kUntouched, sizeof *record);
}

bool IsUntouched(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != kUntouched) return false;
  return true;
}

std::string Hex(const uint8_t* data, size_t size) {
  std::string hex;
  char two[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02X", data[i]);
    hex += two;
  }
  return hex;
}

SEQUOR_HANDLE Session(const RDAX* handle) {
  return reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
}

const RDAX* OpenReader(const std::string& link) {
  if (link == "usb") return RDAX_OpenDevice(nullptr, nullptr);
  RDAX_OPEN_PARAMS params{};
  params.words[1] = sequorsim::kLineSpeed;
  return RDAX_OpenDevice("COM3", &params);
}

// One call: how it is made (synchronously, or with an event, perhaps
// cancelled) and what it came to.
struct Call {
  const RDAX* handle = nullptr;
  bool async = false;
  bool cancel = false;      // cancel it once started (asynchronous calls)
  uint32_t cancelAfterMs = 0;
  uint32_t result = 0;
  // An asynchronous result is read back from the handle, where a cancel
  // may have stored its own outcome after the operation's: an output the
  // call left untouched is then no answer at all.
  bool exact = true;
  std::string wrong;  // what a wrong answer looked like
};

// Runs `body` (given the event, or null) as `call` says, and waits for an
// asynchronous call's end.
uint32_t Make(Call& call, Board* board, const std::function<uint32_t(Q7M_HANDLE)>& body) {
  if (!call.async) {
    call.result = body(nullptr);
    return call.result;
  }
  const Q7M_HANDLE event = Q7M_CreateEvent(1, 0, nullptr);
  if (event == nullptr) {
    call.result = RDAX_F_SYSTEM;
    return call.result;
  }
  call.result = body(event);
  if (call.result == RDAX_I_ASYNC_STARTED) {
    if (call.cancel) {
      std::this_thread::sleep_for(std::chrono::milliseconds(call.cancelAfterMs));
      RDAX_Cancel(call.handle);
      if (board != nullptr) board->cancels.fetch_add(1);
    }
    // The records the call writes live in the caller's frame: it must not
    // return before the event, however long that takes (the board shows the
    // call as stuck meanwhile).
    Q7M_WaitForSingleObject(event, Q7M_INFINITE);
    call.result = RDAX_GetResult(call.handle);
    call.exact = false;
  }
  Q7M_CloseHandle(event);
  return call.result;
}

// The checks of the answers. Each returns the call's outcome; kWrong when
// an answer arrived that is not this command's.
Outcome Judge(Call& call, bool answered, bool right, const std::string& shown) {
  const Outcome outcome = OutcomeOf(call.result);
  if (outcome != Outcome::kOk) return outcome;
  if (!answered && !call.exact) return outcome;  // the result was a cancel's
  if (answered && right) return outcome;
  call.wrong = shown;
  return Outcome::kWrong;
}

std::string Trimmed(const char* text, size_t size) {
  std::string s(text, strnlen(text, size));
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// ---- the operations, one function each ----

struct ApiOp {
  Family family;
  const char* name;
  uint32_t limitMs;
  bool dispatched;  // may be called asynchronously
  bool guarded;     // refused to others while a session holds the restriction
  std::function<Outcome(Call&, Board*)> run;
};

Outcome SerialNumber(Call& c, Board* b) {
  char serial[RDAX_SERIAL_NUMBER_SIZE];
  Untouch(&serial);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_GetSerialNumber(c.handle, serial, e); });
  return Judge(c, !IsUntouched(serial, sizeof serial),
               std::string(serial, strnlen(serial, sizeof serial)) == kSerialNumber,
               std::string("serial ") + std::string(serial, strnlen(serial, sizeof serial)));
}

Outcome ModelNumber(Call& c, Board* b) {
  char model[RDAX_MODEL_NUMBER_SIZE];
  Untouch(&model);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_GetModelNumber(c.handle, model, e); });
  const std::string text = Trimmed(model, sizeof model);
  return Judge(c, !IsUntouched(model, sizeof model), text == kModel, "model " + text);
}

Outcome SensorLevels(Call& c, Board* b) {
  uint32_t levels[4];
  Untouch(&levels);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_GetSensorLevel(c.handle, levels, e); });
  return Judge(c, !IsUntouched(levels, sizeof levels),
               std::memcmp(levels, kSensors, sizeof levels) == 0,
               "sensors " + std::to_string(levels[0]) + "," + std::to_string(levels[1]));
}

Outcome MaskVersion(Call& c, Board* b) {
  RDAX_VERSION version;
  Untouch(&version);
  Make(c, b, [&](Q7M_HANDLE e) {
    return RDAX_GetVersion(c.handle, RDAX_VERSION_MASK, &version, e);
  });
  const std::string type = Trimmed(version.type, sizeof version.type);
  return Judge(c, !IsUntouched(&version, sizeof version),
               type == "Q7M-MASK" && std::string(version.revision, 2) == "01" &&
                   version.sum == 0x1A2B3C,
               "mask " + type);
}

Outcome Status(Call& c, Board* b) {
  RDAX_STATUS status;
  Untouch(&status);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_GetStatus(c.handle, &status, e); });
  // The card stays inside all along; its chip contacts come and go.
  return Judge(c, !IsUntouched(&status, sizeof status),
               status.deviceStatus == RDAX_DEVICE_ONLINE,
               "device status " + std::to_string(status.deviceStatus));
}

Outcome Tracks(Call& c, Board* b) {
  RDAX_TRACK_DATA tracks;
  Untouch(&tracks);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_ReadMagTrack(c.handle, RDAX_TRACK_ALL, &tracks, e); });
  constexpr size_t kCapacity[3] = {RDAX_TRACK1_CAPACITY, RDAX_TRACK2_CAPACITY,
                                   RDAX_TRACK3_CAPACITY};
  // A length the call never wrote is no length: read no further than the area.
  const auto track = [&](int i, const uint8_t* data) {
    return std::string(reinterpret_cast<const char*>(data),
                       std::min<size_t>(tracks.length[i], kCapacity[i]));
  };
  const bool right = tracks.length[0] == std::strlen(kTrack1) &&
                     tracks.length[1] == std::strlen(kTrack2) &&
                     tracks.length[2] == std::strlen(kTrack3) &&
                     track(0, tracks.track1) == kTrack1 && track(1, tracks.track2) == kTrack2 &&
                     track(2, tracks.track3) == kTrack3;
  return Judge(c, !IsUntouched(&tracks, sizeof tracks), right,
               right ? "" : "track2 " + track(1, tracks.track2).substr(0, 40));
}

Outcome CardStatus(Call& c, Board* b) {
  RDAX_CARD_STATUS status;
  Untouch(&status);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_MonitorCardStatus(c.handle, 0, &status, e); });
  // Where the card is: inside.
  return Judge(c, !IsUntouched(&status, sizeof status), status.digit[1] == 2,
               "card status digit " + std::to_string(status.digit[1]));
}

Outcome InitialReset(Call& c, Board* b) {
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_InitialReset(c.handle, e); });
  return OutcomeOf(c.result);
}

Outcome ActivateChip(Call& c, Board* b) {
  RdaxChipData atr;
  Untouch(&atr);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_ActivateICC(c.handle, RDAX_RESET_COLD, &atr, e); });
  const bool answered = !IsUntouched(&atr, sizeof atr);
  const size_t n = answered && atr.length <= RDAX_CHIP_DATA_MAX ? atr.length : 0;
  return Judge(c, answered, Hex(atr.data, n) == kChipAtr, "atr " + Hex(atr.data, n));
}

Outcome ChipCommand(Call& c, Board* b, int which) {
  RdaxChipData input{};
  input.kind = RDAX_CHIPIO_PROTOCOL_T0;
  const std::vector<uint8_t> apdu = HexBytes(kChipCommand[which]);
  input.length = static_cast<uint32_t>(apdu.size());
  std::memcpy(input.data, apdu.data(), apdu.size());
  RdaxChipData output;
  Untouch(&output);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_CommunicateICC(c.handle, &input, &output, e); });
  const bool answered = !IsUntouched(&output, sizeof output);
  const size_t n = answered && output.length <= RDAX_CHIP_DATA_MAX ? output.length : 0;
  return Judge(c, answered, Hex(output.data, n) == kChipAnswer[which],
               std::string(kChipCommand[which]) + " answered " + Hex(output.data, n));
}

Outcome ActivateSam(Call& c, Board* b) {
  RdaxChipData atr;
  Untouch(&atr);
  Make(c, b, [&](Q7M_HANDLE e) {
    return RDAX_ActivateSAM(c.handle, 1, RDAX_RESET_COLD, &atr, e);
  });
  const bool answered = !IsUntouched(&atr, sizeof atr);
  const size_t n = answered && atr.length <= RDAX_CHIP_DATA_MAX ? atr.length : 0;
  return Judge(c, answered, Hex(atr.data, n) == kSamAtr, "sam atr " + Hex(atr.data, n));
}

bool RightCards(const RdaxContactlessCards& cards) {
  return cards.mifareCount == 1 && cards.typeBCount == 0 && cards.otherCount == 0 &&
         cards.card[0].type == RDAX_CARD_MIFARE && Hex(cards.card[0].id, 4) == kMifareUid;
}

Outcome Contactless(Call& c, Board* b) {
  RdaxContactlessCards cards;
  Untouch(&cards);
  cards.mark = RDAX_CONTACTLESS_MARK;
  Make(c, b, [&](Q7M_HANDLE e) {
    return RDAX_ActivateContactless(c.handle, RDAX_CONTACTLESS_MIFARE, 0, &cards, e);
  });
  return Judge(c, !IsUntouched(&cards.mifareCount, 1), RightCards(cards),
               "cards " + std::to_string(cards.mifareCount) + " uid " + Hex(cards.card[0].id, 4));
}

// Looks for the card, authenticates its sector and reads the block: three
// calls made in a row as applications make them (another process may move
// the field in between: then a step is refused).
Outcome MifareBlock(Call& c, Board* b) {
  RdaxContactlessCards cards;
  Untouch(&cards);
  cards.mark = RDAX_CONTACTLESS_MARK;
  c.result = RDAX_ActivateContactless(c.handle, RDAX_CONTACTLESS_MIFARE, 0, &cards, nullptr);
  if (c.result != RDAX_OK) return OutcomeOf(c.result);
  if (!RightCards(cards)) {
    c.wrong = "cards " + std::to_string(cards.mifareCount) + " uid " + Hex(cards.card[0].id, 4);
    return Outcome::kWrong;
  }
  const uint8_t key[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  c.result = RDAX_MifareAuthenticate(c.handle, &cards, 0, RDAX_MIFARE_KEY_A, kMifareBlock / 4, key,
                                     nullptr);
  if (c.result != RDAX_OK) return OutcomeOf(c.result);
  uint8_t block[16];
  Untouch(&block);
  Make(c, b, [&](Q7M_HANDLE e) {
    return RDAX_MifareRead(c.handle, &cards, 0, kMifareBlock, block, e);
  });
  return Judge(c, !IsUntouched(block, sizeof block), Hex(block, 16) == kMifareData,
               "block " + Hex(block, 16));
}

Outcome DeactivateContactless(Call& c, Board* b) {
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_DeactivateContactless(c.handle, e); });
  return OutcomeOf(c.result);
}

Outcome TamperMode(Call& c, Board* b) {
  int32_t mode;
  Untouch(&mode);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_GetTamperDetectionMode(c.handle, &mode, e); });
  return Judge(c, !IsUntouched(&mode, sizeof mode), mode == kTamperMode,
               "tamper mode " + std::to_string(mode));
}

Outcome RearDestroyMode(Call& c, Board* b) {
  int32_t mode;
  Untouch(&mode);
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_GetRearDestroyDetectionMode(c.handle, &mode, e); });
  return Judge(c, !IsUntouched(&mode, sizeof mode), mode == kRearDestroyMode,
               "rear-destroy mode " + std::to_string(mode));
}

Outcome Recover(Call& c, Board* b) {
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_RecoverFromAbnormalStatus(c.handle, e); });
  return OutcomeOf(c.result);
}

Outcome Watchdog(Call& c, Board* b) {
  Make(c, b, [&](Q7M_HANDLE e) { return RDAX_SetHostWDTReset(c.handle, 0, 0, 0, e); });
  return OutcomeOf(c.result);
}

constexpr const char* kRawCommands[] = {"C00", "CV0", "CUE", "CL0", "CM0"};

// The echo of a raw answer: "P"/"N" and the command's code; the one-byte
// cancel reply "E" may answer any command (another thread or process
// cancelled it).
bool Echoes(const char* command, const char* answer, uint32_t length) {
  if (length >= 1 && answer[0] == 'E') return true;
  return length >= 3 && std::strchr("PN", answer[0]) != nullptr &&
         std::memcmp(answer + 1, command + 1, 2) == 0;
}

Outcome RawCommand(Call& c, Board* b, int which) {
  const char* command = kRawCommands[which];
  char answer[1024];
  uint32_t length = 0xEEEEEEEE;
  Make(c, b, [&](Q7M_HANDLE e) {
    return RDAX_SendCommand(c.handle, command, 3, 2, answer, sizeof answer, &length, 10, e);
  });
  // An empty answer is none (a cancelled call's length is 0).
  const bool answered = length != 0xEEEEEEEE && length != 0 && length <= sizeof answer;
  return Judge(c, answered, answered && Echoes(command, answer, length),
               std::string(command) + " answered " +
                   (answered ? std::string(answer, length < 40 ? length : 40) : ""));
}

// The execution service's own exchange on the API's session, with the short
// limits the existing worker uses, so late answers are left behind for the
// API's calls to meet.
Outcome ServiceExchange(Call& c, Board*, int which) {
  const SEQUOR_HANDLE session = Session(c.handle);
  const uint32_t lock = SEQUOR_ApiLock(session);
  if (lock != SEQUOR_SUCCESS) {
    c.result = RDAX_E_BUSY;
    return Outcome::kBusy;
  }
  const char* command = kRawCommands[which];
  char answer[1024];
  uint32_t length = 0;
  const uint32_t r = SEQUOR_Execute(session, command, 3, kSendSeconds, answer, sizeof answer,
                                    &length, kReceiveSeconds, nullptr);
  SEQUOR_ApiUnlock(session);
  c.result = r == SEQUOR_SUCCESS ? RDAX_OK : RDAX_E_COMMUNICATION;
  if (r != SEQUOR_SUCCESS) return Outcome::kFailed;
  if (Echoes(command, answer, length)) return Outcome::kOk;
  c.wrong = std::string(command) + " answered " + std::string(answer, length < 40 ? length : 40);
  return Outcome::kWrong;
}

std::vector<ApiOp> Operations(const std::string& downloadFile) {
  // Limits: exchanges of the operation with their send and receive limits
  // (the library's table: 30 s each way unless listed otherwise).
  const uint32_t one = ApiLimitMs(1, 60);
  std::vector<ApiOp> ops = {
      {kDeviceInfo, "GetSerialNumber", one, true, false, SerialNumber},
      {kDeviceInfo, "GetModelNumber", one, true, false, ModelNumber},
      {kDeviceInfo, "GetSensorLevel", one, true, false, SensorLevels},
      {kDeviceInfo, "GetVersion", one, true, false, MaskVersion},
      {kDeviceInfo, "GetStatus", ApiLimitMs(3, 60), true, false, Status},
      {kCardTransport, "ReadMagTrack", one, true, true, Tracks},
      {kCardTransport, "MonitorCardStatus", ApiLimitMs(1, 4), true, true, CardStatus},
      // A reset whose first answer is late sends the cancel and resets again.
      {kCardTransport, "InitialReset", ApiLimitMs(3, 60), true, true, InitialReset},
      {kChip, "ActivateICC", one, true, true, ActivateChip},
      {kChip, "CommunicateICC", ApiLimitMs(2, 60), true, true,
       [](Call& c, Board* b) { return ChipCommand(c, b, 0); }},
      {kChip, "CommunicateICC", ApiLimitMs(2, 60), true, true,
       [](Call& c, Board* b) { return ChipCommand(c, b, 1); }},
      {kChip, "ActivateSAM", one, true, true, ActivateSam},
      {kContactless, "ActivateContactless", ApiLimitMs(1, 20), true, true, Contactless},
      {kContactless, "MifareRead", ApiLimitMs(3, 60), true, true, MifareBlock},
      {kContactless, "DeactivateContactless", one, true, true, DeactivateContactless},
      {kSecurity, "GetTamperDetectionMode", one, true, false, TamperMode},
      {kSecurity, "GetRearDestroyDetectionMode", one, true, false, RearDestroyMode},
      {kSecurity, "RecoverFromAbnormalStatus", ApiLimitMs(2, 60), true, true, Recover},
      {kSecurity, "SetHostWDTReset", one, true, false, Watchdog},
      // Version query, announce, reset, start, the blocks, end; each 10 s
      // each way but the start's 30 s answer; two one-second waits.
      {kDownload, "ExecuteDownload", ApiLimitMs(5 + kDownloadBlocks, 40, 2000), true, true,
       [downloadFile](Call& c, Board* b) {
         Make(c, b, [&](Q7M_HANDLE e) {
           return RDAX_ExecuteDownload(c.handle, downloadFile.c_str(), e);
         });
         return OutcomeOf(c.result);
       }},
  };
  for (int i = 0; i < 5; ++i) {
    ops.push_back({kRaw, "SendCommand", ApiLimitMs(1, 12), true, false,
                   [i](Call& c, Board* b) { return RawCommand(c, b, i); }});
    ops.push_back({kRaw, "SEQUOR_Execute", LimitOf(kApiRound), false, false,
                   [i](Call& c, Board* b) { return ServiceExchange(c, b, i); }});
  }
  return ops;
}

class ApiWorker {
 public:
  ApiWorker(Board* board, int index, const std::string& link, uint32_t seed,
            const std::string& downloadFile)
      : board_(board),
        worker_(board->workers[index]),
        link_(link),
        seed_(seed),
        ops_(Operations(downloadFile)) {
    // How often each family comes up: downloads hold the reader for seconds,
    // so they come seldom.
    for (size_t i = 0; i < ops_.size(); ++i) {
      const uint32_t weight = ops_[i].family == kDownload ? 4 : ops_[i].family == kRaw ? 3 : 6;
      for (uint32_t w = 0; w < weight; ++w) deck_.push_back(i);
    }
  }

  int Run() {
    worker_.pid.store(static_cast<int32_t>(::getpid()));
    std::mt19937 random(seed_);
    const int handles = link_ == "usb" ? kApiThreads : 1;
    while (board_->stop.load() == 0) {
      // Open (the serial port may be held by another worker: wait for it).
      std::vector<const RDAX*> opened;
      for (int i = 0; i < handles; ++i) {
        const RDAX* handle = nullptr;
        TimedApi(worker_.threads[0], kOpen, LimitOf(kOpen),
                 [&] { handle = OpenReader(link_); });
        if (handle == nullptr) break;
        opened.push_back(handle);
      }
      if (static_cast<int>(opened.size()) < handles) {
        board_->refusedOpens.fetch_add(1);
        for (const RDAX* handle : opened) Close(handle);
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + random() % 20));
        continue;
      }
      handles_ = opened;
      // A round: every thread makes a few calls, then the handles close (and
      // give the serial port to the next worker).
      std::vector<std::thread> threads;
      for (int t = 0; t < kApiThreads; ++t) {
        threads.emplace_back([this, t, seed = static_cast<uint32_t>(random())] {
          Round(t, seed);
        });
      }
      for (std::thread& thread : threads) thread.join();
      for (const RDAX* handle : handles_) Close(handle);
      handles_.clear();
    }
    return 0;
  }

 private:
  template <typename Body>
  void TimedApi(ThreadPost& post, Operation operation, uint32_t limit, Body body) {
    post.reported.store(0);
    post.limitMs.store(limit);
    post.operation.store(operation);
    const uint64_t start = NowMs();
    post.startMs.store(start);
    body();
    const uint64_t spent = NowMs() - start;
    post.startMs.store(0);
    if (spent > limit && post.reported.exchange(1) == 0) board_->stuck.fetch_add(1);
    board_->operations.fetch_add(1);
  }

  void Close(const RDAX* handle) {
    TimedApi(worker_.threads[0], kClose, LimitOf(kClose), [&] { RDAX_CloseDevice(handle); });
  }

  const RDAX* OwnHandle(int thread) const {
    return handles_[static_cast<size_t>(thread) % handles_.size()];
  }

  void Round(int thread, uint32_t seed) {
    std::mt19937 random(seed);
    const auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    ThreadPost& post = worker_.threads[thread];
    const uint32_t calls = 3 + pick(12);
    for (uint32_t i = 0; i < calls && board_->stop.load() == 0; ++i) {
      const uint32_t roll = pick(100);
      if (roll < 6) {
        // A cancel of whatever runs on one of the process's handles.
        const RDAX* handle = handles_[pick(static_cast<uint32_t>(handles_.size()))];
        TimedApi(post, kCancel, LimitOf(kCancel), [&] { RDAX_Cancel(handle); });
        board_->cancels.fetch_add(1);
      } else if (roll < 12) {
        Restricted(thread, post, pick);
      } else {
        Call call;
        call.handle = OwnHandle(thread);
        Do(post, ops_[deck_[pick(static_cast<uint32_t>(deck_.size()))]], call, pick);
      }
    }
  }

  template <typename Pick>
  void Do(ThreadPost& post, const ApiOp& op, Call& call, Pick& pick) {
    if (op.dispatched && pick(10) < 4) {
      call.async = true;
      call.cancel = pick(4) == 0;
      call.cancelAfterMs = pick(30);
    }
    if (op.family == kDownload) worker_.inDownload.fetch_add(1);
    Outcome outcome = Outcome::kFailed;
    const uint64_t start = NowMs();
    TimedApi(post, kApiCall, op.limitMs, [&] { outcome = op.run(call, board_); });
    // A download waits for the device as an application would: the other
    // threads sharing a serial handle keep it busy most of the time.
    for (int retry = 0; op.family == kDownload && outcome == Outcome::kBusy && retry < 20;
         ++retry) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      TimedApi(post, kApiCall, op.limitMs, [&] { outcome = op.run(call, board_); });
    }
    if (op.family == kDownload) worker_.inDownload.fetch_sub(1);
    Count(op, call, outcome, NowMs() - start);
  }

  void Count(const ApiOp& op, const Call& call, Outcome outcome, uint64_t spentMs) {
    FamilyCounts& f = board_->families[op.family];
    f.calls.fetch_add(1);
    if (call.async) f.async.fetch_add(1);
    uint64_t slowest = f.slowestMs.load();
    while (spentMs > slowest && !f.slowestMs.compare_exchange_weak(slowest, spentMs)) {
    }
    switch (outcome) {
      case Outcome::kOk:
        f.ok.fetch_add(1);
        break;
      case Outcome::kBusy:
        f.busy.fetch_add(1);
        break;
      case Outcome::kRestricted:
        f.restricted.fetch_add(1);
        break;
      case Outcome::kRefused:
        f.refused.fetch_add(1);
        break;
      case Outcome::kCancelled:
        f.cancelled.fetch_add(1);
        break;
      case Outcome::kFaulty:
      case Outcome::kFailed:
        f.failed.fetch_add(1);
        break;
      case Outcome::kWrong:
        board_->wrongCaller.fetch_add(1);
        std::snprintf(board_->lastWrong, sizeof board_->lastWrong, "%s: %s", op.name,
                      call.wrong.c_str());
        break;
    }
  }

  // Takes the restriction, makes a few guarded calls under it (none may be
  // refused as restricted: the session holds it), and gives it back.
  template <typename Pick>
  void Restricted(int thread, ThreadPost& post, Pick& pick) {
    const RDAX* handle = OwnHandle(thread);
    uint32_t started = 0;
    TimedApi(post, kXfsRound, LimitOf(kXfsRound),
             [&] { started = RDAX_StartRestriction(handle); });
    FamilyCounts& security = board_->families[kSecurity];
    security.calls.fetch_add(1);
    if (started == RDAX_E_RESTRICTED) {
      security.restricted.fetch_add(1);
      return;
    }
    // On serial the threads share the session: another thread of this
    // process may hold it already.
    if (started != RDAX_OK && started != RDAX_W_RESTRICTION_HELD) {
      security.failed.fetch_add(1);
      return;
    }
    security.ok.fetch_add(1);
    board_->restrictionsTaken.fetch_add(1);
    worker_.holdsRestriction.fetch_add(1);
    const uint32_t calls = 1 + pick(3);
    for (uint32_t i = 0; i < calls; ++i) {
      const ApiOp* op = nullptr;
      while (op == nullptr || !op->guarded) op = &ops_[deck_[pick(static_cast<uint32_t>(deck_.size()))]];
      Call call;
      call.handle = handle;
      Do(post, *op, call, pick);
      if (call.exact && call.result == RDAX_E_RESTRICTED) {
        board_->ownRestrictionRefused.fetch_add(1);
        std::snprintf(board_->lastWrong, sizeof board_->lastWrong,
                      "%s refused as restricted to the holder", op->name);
      }
    }
    worker_.holdsRestriction.fetch_sub(1);
    uint32_t ended = 0;
    TimedApi(post, kXfsRound, LimitOf(kXfsRound), [&] { ended = RDAX_EndRestriction(handle); });
    // Another thread sharing the session (serial) may have ended it first.
    if (ended != RDAX_OK && ended != RDAX_W_RESTRICTION_NOT_HELD) security.failed.fetch_add(1);
  }

  Board* board_;
  WorkerPost& worker_;
  std::string link_;
  uint32_t seed_;
  std::vector<ApiOp> ops_;
  std::vector<size_t> deck_;
  std::vector<const RDAX*> handles_;
};

}  // namespace

}  // namespace chaos

// args: link ("usb" or "serial"), board file, worker index, random seed,
// download file.
Q7M_CHILD(chaos_api_worker) {
  chaos::Board* board = chaos::MapBoard(args.at(1), false);
  if (board == nullptr) return 2;
  const int index = std::stoi(args.at(2));
  if (index < 0 || index >= chaos::kWorkers) return 3;
  chaos::ApiWorker worker(board, index, args.at(0), static_cast<uint32_t>(std::stoul(args.at(3))),
                          args.at(4));
  return worker.Run();
}

// The fresh process after the run: one operation of each family must go
// through, the restriction included (whoever held it was killed or has gone).
// Says "fail ..." for each one that does not, then "done".
// args: link, download file.
Q7M_CHILD(chaos_api_check) {
  using namespace chaos;
  const RDAX* handle = OpenReader(args.at(0));
  if (handle == nullptr) {
    q7mtest::Say("fail open, last error " + std::to_string(Q7M_GetLastError()));
    q7mtest::Say("done");
    return 1;
  }
  int failures = 0;
  const auto expect = [&](const char* what, Outcome outcome, const Call& call) {
    if (outcome == Outcome::kOk) return;
    ++failures;
    char line[200];
    std::snprintf(line, sizeof line, "fail %s: result 0x%08X %s", what, call.result,
                  call.wrong.c_str());
    q7mtest::Say(line);
  };
  const auto run = [&](const char* what, Outcome (*op)(Call&, Board*)) {
    Call call;
    call.handle = handle;
    expect(what, op(call, nullptr), call);
  };
  {
    Call call;
    call.handle = handle;
    const uint32_t r = RDAX_StartRestriction(handle);
    call.result = r;
    expect("StartRestriction", OutcomeOf(r), call);
  }
  run("GetSerialNumber", SerialNumber);
  run("ReadMagTrack", Tracks);
  run("ActivateICC", ActivateChip);
  {
    Call call;
    call.handle = handle;
    expect("CommunicateICC", ChipCommand(call, nullptr, 1), call);
  }
  run("MifareRead", MifareBlock);
  run("GetRearDestroyDetectionMode", RearDestroyMode);
  {
    Call call;
    call.handle = handle;
    call.async = true;
    Make(call, nullptr, [&](Q7M_HANDLE e) {
      return RDAX_ExecuteDownload(handle, args.at(1).c_str(), e);
    });
    expect("ExecuteDownload", OutcomeOf(call.result), call);
  }
  {
    Call call;
    call.handle = handle;
    expect("SendCommand", RawCommand(call, nullptr, 2), call);
    Call service;
    service.handle = handle;
    expect("SEQUOR_Execute", ServiceExchange(service, nullptr, 1), service);
  }
  {
    Call call;
    call.handle = handle;
    call.result = RDAX_EndRestriction(handle);
    expect("EndRestriction", OutcomeOf(call.result), call);
  }
  if (RDAX_CloseDevice(handle) != RDAX_OK) {
    ++failures;
    q7mtest::Say("fail close");
  }
  q7mtest::Say("done");
  return failures == 0 ? 0 : 1;
}
