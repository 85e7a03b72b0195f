// Which records the viewer shows: by process, thread, line prefix, text and
// time range. Criteria of one kind are alternatives; different kinds must
// all match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ring_file.h"

namespace q7m::traceview {

// A record's time stamp as the number YYYYMMDDhhmmss.
uint64_t StampOf(const trace::RecordHeader& header);

// A point in time given on the command line. Without a date it is a time of
// day, placed on a date chosen later (the newest record's).
struct TimePoint {
  bool hasDate = false;
  uint64_t stamp = 0;  // YYYYMMDDhhmmss, or hhmmss without a date
};

// Parses "YYYY-MM-DD[ HH:MM[:SS]]" (also with 'T'), "YYYYMMDD[hhmm[ss]]" and
// "HH:MM[:SS]". Missing parts count from the start of the period when
// `endOfPeriod` is false and up to its end when true ("--until 12:30"
// includes 12:30:59). Nothing when the text is not a valid time.
std::optional<TimePoint> ParseTimePoint(std::string_view text, bool endOfPeriod);

// A prefix as the user wrote it ("RDAX", "T:", "seqUOR", "rdax:error") made
// into the text a line starts with ("RDAX:", "T:", "SEQUOR:", "RDAX:ERROR"):
// a colon is added to a bare name, and letters compare without regard to
// case.
std::string NormalisePrefix(std::string_view prefix);

struct RecordFilter {
  std::vector<uint32_t> processIds;
  std::vector<uint32_t> threadIds;
  std::vector<std::string> prefixes;  // normalised
  std::vector<std::string> contains;
  std::optional<TimePoint> since;
  std::optional<TimePoint> until;

  // Places times of day on `date` (YYYYMMDD).
  void ResolveDates(uint64_t date);
  bool Matches(const TraceRecord& record) const;
};

}  // namespace q7m::traceview
