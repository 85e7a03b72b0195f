// The card slot's magnetic side as named fields: the card's tracks, the
// transaction setting, the lock, a jam and what the read buffer holds.
#include "reader_fields.h"
#include "text_util.h"

namespace q7msim {

void AddCardSlotFields(ReaderState* s, FieldTable* t) {
  for (size_t i = 0; i < kTrackCount; ++i) {
    MagTrack* track = &s->transport.card[i];
    t->Add(
        "Track" + std::to_string(i + 1),
        "track " + std::to_string(i + 1) +
            " of the card in the slot (or the next one inserted): its characters (read as "
            "00), blank (43, no data), error=XX or error=XX:DATA (a read error, with data "
            "delivered for 46)",
        [track] { return FormatTrackSpec(*track); },
        [track](std::string_view v) {
          std::string problem;
          ParseTrackSpec(v, track, &problem);
          return problem;
        });
  }
  t->Add(
      "TransactionSetting",
      "four characters as the :6 command sets them: direction 0-2, track set 0-7, insertion "
      "lock 0/1, pull-out lock 0/1",
      [s] {
        const TransactionSetting& ts = s->transport.setting;
        return std::string{ts.direction, ts.trackSet, ts.lockOnInsert ? '1' : '0',
                           ts.lockOnPullOut ? '1' : '0'};
      },
      [s](std::string_view v) {
        if (v.size() != 4 || v[0] < '0' || v[0] > '2' || v[1] < '0' || v[1] > '7' ||
            (v[2] != '0' && v[2] != '1') || (v[3] != '0' && v[3] != '1'))
          return std::string("four characters: 0-2, 0-7, 0/1, 0/1");
        s->transport.setting = {v[0], v[1], v[2] == '1', v[3] == '1'};
        return std::string();
      });
  t->AddSwitch("CardLocked", "the card lock is engaged (on/off)", &s->transport.locked);
  t->Add(
      "Jam", "none, or the error code a jammed card makes the reader answer with",
      [s] {
        return s->transport.jammed ? std::string(s->transport.jamError.data(), 2)
                                   : std::string("none");
      },
      [s](std::string_view v) {
        if (EqualsNoCase(v, "none")) {
          s->transport.jammed = false;
          return std::string();
        }
        if (v.size() != 2 || !IsPrintable(v)) return std::string("none, or two characters");
        s->transport.jammed = true;
        s->transport.jamError = {v[0], v[1]};
        return std::string();
      });
  t->Add("ReadData", "tracks the read buffer holds (read on insertion or pull-out), or none", [s] {
    std::string text;
    for (size_t i = 0; i < kTrackCount; ++i) {
      if (s->transport.buffered & (1u << i)) text += static_cast<char>('1' + i);
    }
    return text.empty() ? std::string("none") : text;
  });
}

}  // namespace q7msim
