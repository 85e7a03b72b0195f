// Follows a ring as it is written: waits for the file to change (inotify, no
// polling) and shows the records written since the last one shown, across
// the wrap. When the writer laps the follower, the records in between are
// reported as lost; when the file is removed or cut short, following starts
// over with the file that takes its place.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "record_filter.h"
#include "record_printer.h"
#include "ring_file.h"

namespace q7m::traceview {

// Where following continues: the slot after the last record shown and the
// sequence number expected there.
struct FollowCursor {
  bool known = false;  // false: take whatever record slot 0 holds first
  uint64_t nextSlot = 0;
  uint32_t expectedSequence = 0;
};

class RingFollower {
 public:
  // `file` is open; its record length is known unless `lengthKnown` is
  // false (an empty ring), and fixed by the user when `fixedLength`.
  RingFollower(RingFile& file, bool lengthKnown, bool fixedLength, const RecordFilter& filter,
               const PrintStyle& style, std::FILE* out, std::FILE* err)
      : file_(file),
        fixedLength_(fixedLength),
        lengthKnown_(lengthKnown),
        filter_(filter),
        style_(style),
        out_(out),
        err_(err) {}

  // Runs until the watch fails (returns 1); a stopped program ends it.
  int Run(FollowCursor cursor);

  // Shows every record written since `cursor` and moves it on. Public for
  // the tests, which drive it without a watch.
  void CatchUp(FollowCursor* cursor);

 private:
  bool Show(const TraceRecord& record, FollowCursor* cursor);
  void Resync(FollowCursor* cursor);
  bool Reopen(FollowCursor* cursor);

  RingFile& file_;
  bool fixedLength_;
  bool lengthKnown_;
  const RecordFilter& filter_;
  const PrintStyle& style_;
  std::FILE* out_;
  std::FILE* err_;
  std::vector<char> buffer_;
  uint64_t lastSize_ = 0;
};

// True when `sequence` lies ahead of `reference` on the 24-bit circle
// (including equal), i.e. was written at or after it.
bool SequenceAtOrAfter(uint32_t sequence, uint32_t reference);

}  // namespace q7m::traceview
