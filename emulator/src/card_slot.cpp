#include "card_slot.h"

#include "reader_state.h"
#include "text_util.h"

namespace q7msim {

int TrackMaskOf(char trackSet) {
  switch (trackSet) {
    case '0':
      return 0;
    case '1':
      return 1;
    case '2':
      return 2;
    case '3':
      return 4;
    case '4':
      return 3;
    case '5':
      return 5;
    case '6':
      return 6;
    case '7':
      return 7;
    default:
      return -1;
  }
}

bool ParseTrackSpec(std::string_view spec, MagTrack* track, std::string* problem) {
  MagTrack next;
  std::string_view data = spec;
  if (EqualsNoCase(spec, "blank")) {
    *track = next;
    return true;
  }
  if (spec.size() >= 6 && EqualsNoCase(spec.substr(0, 6), "error=")) {
    std::string_view rest = spec.substr(6);
    if (rest.size() < 2 || !IsPrintable(rest.substr(0, 2)) || (rest.size() > 2 && rest[2] != ':')) {
      *problem = "error=XX or error=XX:DATA";
      return false;
    }
    next.result = {rest[0], rest[1]};
    data = rest.size() > 2 ? rest.substr(3) : std::string_view();
  } else {
    next.result = {'0', '0'};
  }
  if (data.size() > kLongestTrack || !IsPrintable(data)) {
    *problem = "track data: printable characters, at most 999";
    return false;
  }
  next.data = std::string(data);
  *track = next;
  return true;
}

std::string FormatTrackSpec(const MagTrack& track) {
  if (track.result[0] == '0' && track.result[1] == '0') return track.data;
  if (track.result[0] == '4' && track.result[1] == '3' && track.data.empty()) return "blank";
  std::string text = "error=" + std::string(track.result.data(), 2);
  if (!track.data.empty()) text += ":" + track.data;
  return text;
}

void CountRead(ReaderState& state, uint8_t mask) {
  state.Count(ReaderCounter::kTrackReads);
  for (size_t t = 0; t < kTrackCount; ++t) {
    const MagTrack& read = state.transport.card[t];
    if ((mask & (1u << t)) && (read.result[0] != '0' || read.result[1] != '0'))
      state.Count(ReaderCounter::kTrackErrors);
  }
}

namespace {

// The reading on the card's way in or out: the tracks of the setting go to
// the read buffer.
void ReadIntoBuffer(ReaderState& state, uint8_t mask) {
  CardTransport& t = state.transport;
  CountRead(state, mask);
  for (size_t i = 0; i < kTrackCount; ++i)
    t.buffer[i] = (mask & (1u << i)) ? t.card[i] : MagTrack{};
  t.buffered = mask;
}

}  // namespace

void CardMoved(ReaderState& state, CardPosition from) {
  CardTransport& t = state.transport;
  const CardPosition to = state.slot.position;
  if (to == from) return;
  t.lastMove = static_cast<uint8_t>(to) > static_cast<uint8_t>(from) ? '1' : '2';
  const int mask = TrackMaskOf(t.setting.trackSet);
  const bool readsTracks = mask > 0;
  if (to == CardPosition::kInside) {
    if (t.setting.direction == '1' && readsTracks) {
      ReadIntoBuffer(state, static_cast<uint8_t>(mask));
    }
    if (t.setting.lockOnInsert) t.locked = true;
  } else if (from == CardPosition::kInside) {
    if (t.setting.direction == '2' && readsTracks) {
      ReadIntoBuffer(state, static_cast<uint8_t>(mask));
    }
    // The pull-out lock holds the card in the throat on its way out.
    if (to == CardPosition::kGate && t.setting.lockOnPullOut) t.locked = true;
  }
  if (to == CardPosition::kNone) t.locked = false;
}

std::array<char, 5> CardStatusDigits(const ReaderState& state, bool moved) {
  const CardTransport& t = state.transport;
  return {moved ? t.lastMove : '0', static_cast<char>('0' + static_cast<int>(state.slot.position)),
          t.locked ? '1' : '0', t.buffered ? '1' : '0', t.jammed ? '1' : '0'};
}

}  // namespace q7msim
