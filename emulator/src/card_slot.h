// The card slot's magnetic side: the tracks of the card in the slot, the
// transaction setting that says when they are read, the read buffer that
// holds what was read, the card lock and a jam. A card that moves calls
// CardMoved(), which reads and locks as the setting asks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace q7msim {

struct ReaderState;
enum class CardPosition : uint8_t;

// A track as the reader's head finds it: its characters and the result the
// reader reports for it ("00" read; "4x" a read error, with or without data).
struct MagTrack {
  std::string data;
  std::array<char, 2> result{'4', '3'};  // a blank track
};

constexpr size_t kTrackCount = 3;
constexpr size_t kLongestTrack = 999;  // the reader states lengths in 3 digits

using MagCard = std::array<MagTrack, kTrackCount>;

struct TransactionSetting {
  char direction = '0';  // "0" no reading, "1" on insertion, "2" on pull-out
  char trackSet = '7';   // the reader's track set character, "0" to "7"
  bool lockOnInsert = false;
  bool lockOnPullOut = false;
};

struct CardTransport {
  MagCard card;  // the card in the slot, or the next one to be inserted
  TransactionSetting setting;
  // What the last reading on insertion or pull-out found; `buffered` says
  // which tracks (bit 0 track 1) it holds, 0 when cleared.
  MagCard buffer;
  uint8_t buffered = 0;
  bool locked = false;
  // A jammed card moves no more; the reader answers with `jamError`.
  bool jammed = false;
  std::array<char, 2> jamError{'0', '5'};
  // How the last movement went: "1" further in, "2" further out.
  char lastMove = '0';
  // Seconds a "92" asks to wait for the card to move; the reader takes the
  // request after the command ran (-1: none).
  int monitorRequest = -1;
};

// The reader's track set character as a track mask, -1 when it is none.
int TrackMaskOf(char trackSet);

// "TEXT" (read), "blank" (no data, "43"), "error=XX" or "error=XX:TEXT" (a
// read error, with the data the reader still delivers).
bool ParseTrackSpec(std::string_view spec, MagTrack* track, std::string* problem);
std::string FormatTrackSpec(const MagTrack& track);

// Counts one read of the card's tracks of `mask` and its failed tracks.
void CountRead(ReaderState& state, uint8_t mask);

// Called after the card moved from `from` to where it is now: reading on
// insertion or pull-out, and the locks of the transaction setting.
void CardMoved(ReaderState& state, CardPosition from);

// The five digits of the card status monitoring answer: how the card last
// moved ("0" not at all), where it is ("0" none, "1" in the throat, "2"
// inside), locked, read data held, jammed.
std::array<char, 5> CardStatusDigits(const ReaderState& state, bool moved);

}  // namespace q7msim
