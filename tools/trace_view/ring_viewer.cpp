#include "ring_viewer.h"

#include <time.h>
#include <unistd.h>

#include <deque>
#include <string>

#include "ring_follower.h"
#include "ring_order.h"

namespace q7m::traceview {

namespace {

uint64_t Today() {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  return (uint64_t(local.tm_year) + 1900) * 10000 + uint64_t(local.tm_mon + 1) * 100 +
         uint64_t(local.tm_mday);
}

bool UseColor(ColorMode mode, std::FILE* out) {
  if (mode == ColorMode::kAlways) return true;
  if (mode == ColorMode::kNever) return false;
  const char* term = getenv("TERM");
  return isatty(fileno(out)) && getenv("NO_COLOR") == nullptr && term != nullptr &&
         std::string(term) != "dumb";
}

}  // namespace

int RunViewer(ViewerOptions options, std::FILE* out, std::FILE* err) {
  options.style.color = UseColor(options.color, out);
  RingFile file;
  std::string error;
  if (!file.Open(options.path, &error)) {
    std::fprintf(err, "q7m-trace: %s: %s\n", options.path.c_str(), error.c_str());
    return 1;
  }
  bool lengthKnown = true;
  if (options.recordLength) {
    file.SetRecordLength(*options.recordLength);
  } else if (!file.DetectLength(&error)) {
    // An empty ring is fine to follow: its first record tells the length.
    if (!(options.follow && file.FileSize() == 0)) {
      if (file.FileSize() == 0) {  // nothing written yet: nothing to show
        std::fprintf(err, "q7m-trace: %s: the ring is empty\n", options.path.c_str());
        return 0;
      }
      std::fprintf(err, "q7m-trace: %s: %s\n", options.path.c_str(), error.c_str());
      return 1;
    }
    lengthKnown = false;
  }

  FollowCursor cursor;
  if (lengthKnown) {
    RingOrder order = FindRingOrder(file);
    // Times of day refer to the day of the newest record.
    std::vector<char> buffer;
    TraceRecord newest;
    uint64_t newestSlot = order.oldest == 0 ? order.slots - 1 : order.oldest - 1;
    bool haveNewest = order.slots > 0 && file.ReadRecord(newestSlot, &buffer, &newest);
    options.filter.ResolveDates(haveNewest ? StampOf(newest.header) / 1000000 : Today());

    std::deque<std::string> kept;
    uint64_t unusable = ForEachRecord(file, order, [&](const TraceRecord& record) {
      cursor.known = true;
      cursor.nextSlot = record.slot + 1;
      cursor.expectedSequence = (record.header.sequence + 1) & trace::kSequenceMask;
      if (!options.filter.Matches(record)) return;
      std::string line = FormatRecord(record, options.style);
      if (!options.last) {
        std::fwrite(line.data(), 1, line.size(), out);
        return;
      }
      if (*options.last == 0) return;
      if (kept.size() == *options.last) kept.pop_front();
      kept.push_back(std::move(line));
    });
    for (const auto& line : kept) std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
    if (unusable > 0 && !options.follow) {
      std::fprintf(err, "q7m-trace: %s: %llu slot%s held no whole record\n", options.path.c_str(),
                   static_cast<unsigned long long>(unusable), unusable == 1 ? "" : "s");
    }
  } else {
    options.filter.ResolveDates(Today());
  }
  if (!options.follow) return 0;

  RingFollower follower(file, lengthKnown, options.recordLength.has_value(), options.filter,
                        options.style, out, err);
  return follower.Run(cursor);
}

}  // namespace q7m::traceview
