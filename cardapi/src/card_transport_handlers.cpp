// The card transport and magnetic stripe operations: the initial reset with
// its recovery, the transaction setting, card status monitoring, the track
// read and the fixed commands (clear read data, lock, unlock).
#include <cstdio>
#include <cstring>

#include "exchange.h"
#include "handlers.h"
#include "reply_fields.h"
#include "result_map.h"

namespace q7m::rdax {

namespace {

// The reader names a track set by one character, not by the mask: masks 3
// (tracks 1+2) and 4 (track 3) swap places.
constexpr char kTrackSetCharacter[8] = {'0', '1', '2', '4', '3', '5', '6', '7'};

constexpr uint32_t kLongestMonitoring = 99;  // seconds, two digits

}  // namespace

uint32_t HandleInitialReset(const RdaxRequest& request) {
  const RDAX* handle = request.device();
  Exchange exchange;
  // A reader that does not answer the reset at once is told to stop
  // whatever it is doing, then reset again with the full time limit.
  uint32_t r = exchange.Run(handle, "C00", 3, ExchangeUse::kResetFirstAttempt);
  if (r != RDAX_OK) {
    exchange.Run(handle, "E", 1);
    r = exchange.Run(handle, "C00", 3);
    if (r != RDAX_OK) return r;
  }
  return exchange.Check();
}

uint32_t HandlePrepareTransactionSetting(const RdaxRequest& request) {
  const auto* setting = Param<const RDAX_TRANSACTION_SETTING>(request, 0);
  if (setting == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  if (setting->readDirection > RDAX_READ_ON_PULLOUT || setting->readTracks > RDAX_TRACK_ALL)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  const char command[7] = {'C',
                           ':',
                           '6',
                           static_cast<char>('0' + setting->readDirection),
                           kTrackSetCharacter[setting->readTracks],
                           setting->lockOnInsert != 0 ? '1' : '0',
                           setting->lockOnPullOut != 0 ? '1' : '0'};
  return SendAndEvaluate(request, command, sizeof command);
}

uint32_t HandleMonitorCardStatus(const RdaxRequest& request) {
  const uint32_t seconds = Value(request, 0);
  auto* status = Param<RDAX_CARD_STATUS>(request, 1);
  if (status == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  if (seconds > kLongestMonitoring) return StoreArgumentError(request, RDAX_E_PARAMETER);
  char command[8];
  std::snprintf(command, sizeof command, "C92%02u", seconds);
  Exchange exchange;
  // The reader answers when the card moves or the time is up: both limits
  // of the exchange leave it the monitoring time and then some.
  uint32_t r = exchange.Run(request.device(), command, 5, ExchangeUse::kOrdinary, seconds);
  if (r == RDAX_OK) r = exchange.Check();
  if (r != RDAX_OK) return r;
  ReplyReader reply(exchange.response());
  RDAX_CARD_STATUS read{};
  for (uint32_t i = 0; i < 5; ++i) read.digit[i] = reply.Decimal(5 + i, 1);
  // Five digits read together: a reply without all of them says nothing.
  if (!reply.complete()) return RDAX_E_FAULTY_REPLY;
  *status = read;
  return RDAX_OK;
}

namespace {

uint8_t* TrackArea(RDAX_TRACK_DATA* tracks, int track, uint32_t* capacity) {
  switch (track) {
    case 0:
      *capacity = RDAX_TRACK1_CAPACITY;
      return tracks->track1;
    case 1:
      *capacity = RDAX_TRACK2_CAPACITY;
      return tracks->track2;
    default:
      *capacity = RDAX_TRACK3_CAPACITY;
      return tracks->track3;
  }
}

}  // namespace

uint32_t HandleReadMagTrack(const RdaxRequest& request) {
  const uint32_t mask = Value(request, 0);
  auto* tracks = Param<RDAX_TRACK_DATA>(request, 1);
  if (tracks == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  if (mask < RDAX_TRACK_1 || mask > RDAX_TRACK_ALL)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  const char command[4] = {'C', '6', 'a', kTrackSetCharacter[mask]};
  Exchange exchange;
  uint32_t r = exchange.Run(request.device(), command, sizeof command);
  if (r != RDAX_OK) return r;
  r = exchange.Check();
  if (r != RDAX_OK && (r < RDAX_W_TRACK_FIRST || r > RDAX_W_TRACK_LAST)) return r;

  // From offset 6: the result (2 characters) of each requested track, then
  // its length (3 digits), then the data, each in track order.
  const ResponseView reply = exchange.response();
  int requested[3];
  uint32_t count = 0;
  for (int track = 0; track < 3; ++track) {
    if (mask & (1u << track)) requested[count++] = track;
  }
  const uint32_t lengthsAt = 6 + 2 * count;
  uint32_t dataAt = lengthsAt + 3 * count;
  uint32_t first = RDAX_OK;
  bool cutShort = false;
  for (uint32_t i = 0; i < count; ++i) {
    const int track = requested[i];
    uint32_t result = RDAX_E_FAULTY_REPLY;
    if (const auto code = reply.Field(6 + 2 * i, 2)) {
      result =
          *reply.Decimal(6 + 2 * i, 2) == 0 ? RDAX_OK : RdaxMapReaderError((*code)[0], (*code)[1]);
    }
    uint32_t delivered = 0;
    if (result == RDAX_OK || result == RDAX_W_TRACK_46) {
      const auto stated = reply.Decimal(lengthsAt + 3 * i, 3);
      uint32_t capacity = 0;
      uint8_t* area = TrackArea(tracks, track, &capacity);
      if (cutShort || !stated || !reply.Has(dataAt, *stated)) {
        // Data announced but not delivered: nothing of it is believed, nor
        // the data of the tracks after it, which would have to follow it.
        cutShort = true;
        result = RDAX_E_FAULTY_REPLY;
      } else {
        // A track longer than its area keeps what fits; the next track
        // still starts where the reader put it.
        delivered = *stated < capacity ? *stated : capacity;
        // An empty track may sit at the reply's very end, where no bytes
        // (and no address to copy from) are left.
        if (delivered > 0) std::memcpy(area, reply.Rest(dataAt).data(), delivered);
        dataAt += *stated;
      }
    }
    tracks->result[track] = result;
    tracks->length[track] = static_cast<uint8_t>(delivered);
    if (first == RDAX_OK) first = result;
  }
  return first;
}

uint32_t HandleClearReadData(const RdaxRequest& request) {
  return SendAndEvaluate(request, "C6s", 3);
}

uint32_t HandleLock(const RdaxRequest& request) {
  return SendAndEvaluate(request, "CC0", 3);
}

uint32_t HandleUnlock(const RdaxRequest& request) {
  return SendAndEvaluate(request, "CC1", 3);
}

}  // namespace q7m::rdax
