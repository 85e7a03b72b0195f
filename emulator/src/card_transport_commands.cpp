// The card transport family: reset, card intake settings, card status
// monitoring, the magnetic tracks and the card lock. The reset is built; the
// other codes are listed in reader_commands.cpp and answered as undefined
// until their handlers register here.
#include "reader_commands.h"

namespace q7msim {

namespace {

// "00": reset. The reader returns to its idle state: the chip contacts are
// released and the LED goes off; a card stays where it is.
void Reset(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  ReaderState& s = c.state;
  s.Count(ReaderCounter::kResets);
  s.led.mode = LedMode::kOff;
  if (s.slot.chip != ChipContact::kReleased) s.SetChipContact(ChipContact::kReleased);
  c.Accept();
}

}  // namespace

bool RegisterCardTransportCommands(CommandDispatcher* d) {
  return d->Register("00", Reset);
}

}  // namespace q7msim
