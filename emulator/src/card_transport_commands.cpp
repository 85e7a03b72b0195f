// The card transport family: reset, the transaction setting, card status
// monitoring, the magnetic tracks and the card lock.
#include "reader_commands.h"

namespace q7msim {

namespace {

bool IsDigitIn(uint8_t c, char low, char high) {
  return c >= low && c <= high;
}

// A jammed card answers every command that would move or read it.
bool RefusedForJam(CommandContext& c) {
  if (!c.state.transport.jammed) return false;
  c.response.Negative(c.code, c.state.transport.jamError.data());
  return true;
}

// "00": reset. The reader returns to its idle state: the chip contacts are
// released, the LED goes off and a jam is cleared; a card stays where it is.
void Reset(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  ReaderState& s = c.state;
  s.Count(ReaderCounter::kResets);
  s.led.mode = LedMode::kOff;
  s.transport.jammed = false;
  if (s.slot.chip != ChipContact::kReleased) s.SetChipContact(ChipContact::kReleased);
  c.Accept();
}

// ":6" + direction "0"-"2" + track set "0"-"7" + insertion lock "0"/"1" +
// pull-out lock "0"/"1": how the next card is taken in and read.
void TransactionSettingCommand(CommandContext& c) {
  const uint8_t* p = c.params;
  if (!c.HasParams(4) || !IsDigitIn(p[0], '0', '2') || !IsDigitIn(p[1], '0', '7') ||
      !IsDigitIn(p[2], '0', '1') || !IsDigitIn(p[3], '0', '1'))
    return c.RefuseParameters();
  TransactionSetting& t = c.state.transport.setting;
  t.direction = static_cast<char>(p[0]);
  t.trackSet = static_cast<char>(p[1]);
  t.lockOnInsert = p[2] == '1';
  t.lockOnPullOut = p[3] == '1';
  c.Accept();
}

// "92" + two digits: card status monitoring. The answer (five digits from
// offset 5) is given when the card moves or the time is up; the reader
// holds it meanwhile (Reader::TakeMonitorRequest). Time "00" answers at once.
void MonitorCardStatus(CommandContext& c) {
  if (!c.HasParams(2) || !IsDigitIn(c.params[0], '0', '9') || !IsDigitIn(c.params[1], '0', '9'))
    return c.RefuseParameters();
  const int seconds = (c.params[0] - '0') * 10 + (c.params[1] - '0');
  c.Accept();
  const std::array<char, 5> digits = CardStatusDigits(c.state, false);
  c.response.AppendBytes(digits.data(), digits.size());
  if (seconds > 0) c.state.transport.monitorRequest = seconds;
}

// "6a" + track set "1"-"7": the tracks from the read buffer, or read from a
// card inside when nothing was read on its way in or out. From offset 5: the
// track set, the result of each track, the length of each (3 digits), then
// the data of each, in track order. A track that failed sends no data unless
// its result is "46"; a track with nothing to read reports "40".
void ReadTracks(CommandContext& c) {
  if (!c.HasParams(1)) return c.RefuseParameters();
  const int mask = TrackMaskOf(static_cast<char>(c.params[0]));
  if (mask <= 0) return c.RefuseParameters();
  if (RefusedForJam(c)) return;
  ReaderState& s = c.state;
  const MagCard* read = nullptr;
  uint8_t available = s.transport.buffered;
  if (available) {
    read = &s.transport.buffer;
  } else if (s.slot.position == CardPosition::kInside) {
    CountRead(s, static_cast<uint8_t>(mask));
    read = &s.transport.card;
    available = static_cast<uint8_t>(mask);
  }
  static const MagTrack kNothing{{}, {'4', '0'}};
  const MagTrack* tracks[kTrackCount] = {};
  for (size_t t = 0; t < kTrackCount; ++t) {
    if (mask & (1 << t)) tracks[t] = (available & (1 << t)) ? &(*read)[t] : &kNothing;
  }
  auto delivers = [](const MagTrack& track) {
    return (track.result[0] == '0' && track.result[1] == '0') ||
           (track.result[0] == '4' && track.result[1] == '6');
  };
  c.Accept();
  c.response.AppendChar(static_cast<char>(c.params[0]));
  for (const MagTrack* track : tracks) {
    if (track) c.response.AppendBytes(track->result.data(), 2);
  }
  for (const MagTrack* track : tracks) {
    if (track) c.response.AppendDecimal(delivers(*track) ? track->data.size() : 0, 3);
  }
  for (const MagTrack* track : tracks) {
    if (track && delivers(*track)) c.response.AppendBytes(track->data.data(), track->data.size());
  }
}

// "6s": forget the tracks read.
void ClearReadData(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.state.transport.buffered = 0;
  c.state.transport.buffer = MagCard{};
  c.Accept();
}

// "C0" / "C1": card lock on / off.
void LockOn(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  if (RefusedForJam(c)) return;
  c.state.transport.locked = true;
  c.Accept();
}

void LockOff(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  if (RefusedForJam(c)) return;
  c.state.transport.locked = false;
  c.Accept();
}

}  // namespace

bool RegisterCardTransportCommands(CommandDispatcher* d) {
  bool ok = d->Register("00", Reset);
  ok = d->Register(":6", TransactionSettingCommand) && ok;
  ok = d->Register("92", MonitorCardStatus) && ok;
  ok = d->Register("6a", ReadTracks) && ok;
  ok = d->Register("6s", ClearReadData) && ok;
  ok = d->Register("C0", LockOn) && ok;
  ok = d->Register("C1", LockOff) && ok;
  return ok;
}

}  // namespace q7msim
