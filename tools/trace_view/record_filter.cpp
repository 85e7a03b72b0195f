#include "record_filter.h"

#include <algorithm>
#include <cctype>

namespace q7m::traceview {

namespace {

bool ReadDigits(std::string_view text, size_t at, size_t count, uint64_t* value) {
  if (at + count > text.size()) return false;
  uint64_t v = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  *value = v;
  return true;
}

bool ValidDate(uint64_t y, uint64_t m, uint64_t d) {
  return y >= 1 && m >= 1 && m <= 12 && d >= 1 && d <= 31;
}

// hh:mm[:ss] or hhmm[ss] starting at `at`, to the end of the text.
bool ParseTimeOfDay(std::string_view text, size_t at, bool colons, bool endOfPeriod,
                    uint64_t* hhmmss) {
  uint64_t h = 0, m = 0, s = endOfPeriod ? 59 : 0;
  size_t step = colons ? 3 : 2;
  if (!ReadDigits(text, at, 2, &h) || !ReadDigits(text, at + step, 2, &m)) return false;
  if (colons && text[at + 2] != ':') return false;
  size_t end = at + step + 2;
  if (end < text.size()) {
    if (colons && text[end] != ':') return false;
    size_t secAt = colons ? end + 1 : end;
    if (!ReadDigits(text, secAt, 2, &s) || secAt + 2 != text.size()) return false;
  }
  if (h > 23 || m > 59 || s > 59) return false;
  *hhmmss = h * 10000 + m * 100 + s;
  return true;
}

}  // namespace

uint64_t StampOf(const trace::RecordHeader& h) {
  return ((((uint64_t{h.year} * 100 + h.month) * 100 + h.day) * 100 + h.hour) * 100 + h.minute) *
             100 +
         h.second;
}

std::optional<TimePoint> ParseTimePoint(std::string_view text, bool endOfPeriod) {
  TimePoint point;
  uint64_t y = 0, mo = 0, d = 0, tod = endOfPeriod ? 235959 : 0;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    if (!ReadDigits(text, 0, 4, &y) || !ReadDigits(text, 5, 2, &mo) || !ReadDigits(text, 8, 2, &d))
      return std::nullopt;
    if (text.size() > 10) {
      if (text[10] != ' ' && text[10] != 'T') return std::nullopt;
      if (!ParseTimeOfDay(text, 11, true, endOfPeriod, &tod)) return std::nullopt;
    }
  } else if (text.size() >= 8 && text.find(':') == std::string_view::npos) {
    if (!ReadDigits(text, 0, 4, &y) || !ReadDigits(text, 4, 2, &mo) || !ReadDigits(text, 6, 2, &d))
      return std::nullopt;
    if (text.size() > 8 && !ParseTimeOfDay(text, 8, false, endOfPeriod, &tod)) return std::nullopt;
  } else {
    if (!ParseTimeOfDay(text, 0, true, endOfPeriod, &tod)) return std::nullopt;
    point.stamp = tod;
    return point;
  }
  if (!ValidDate(y, mo, d)) return std::nullopt;
  point.hasDate = true;
  point.stamp = ((y * 100 + mo) * 100 + d) * 1000000 + tod;
  return point;
}

std::string NormalisePrefix(std::string_view prefix) {
  std::string out;
  for (char c : prefix)
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  // "RDAX" means the library's lines ("RDAX:"); a prefix that has a colon
  // already ("RDAX:Error") is taken as written.
  if (!out.empty() && out.find(':') == std::string::npos) out.push_back(':');
  return out;
}

void RecordFilter::ResolveDates(uint64_t date) {
  for (auto* point : {&since, &until}) {
    if (*point && !(*point)->hasDate) {
      (*point)->stamp += date * 1000000;
      (*point)->hasDate = true;
    }
  }
}

bool RecordFilter::Matches(const TraceRecord& record) const {
  const auto& h = record.header;
  if (!processIds.empty() &&
      std::find(processIds.begin(), processIds.end(), h.processId) == processIds.end()) {
    return false;
  }
  if (!threadIds.empty() &&
      std::find(threadIds.begin(), threadIds.end(), h.threadId) == threadIds.end()) {
    return false;
  }
  if (!prefixes.empty()) {
    bool any = false;
    for (const auto& p : prefixes) {
      if (record.text.size() < p.size()) continue;
      bool same = true;
      for (size_t i = 0; i < p.size() && same; ++i) {
        same = std::toupper(static_cast<unsigned char>(record.text[i])) == p[i];
      }
      if (same) {
        any = true;
        break;
      }
    }
    if (!any) return false;
  }
  if (!contains.empty()) {
    bool any = false;
    for (const auto& c : contains) {
      if (record.text.find(c) != std::string_view::npos) {
        any = true;
        break;
      }
    }
    if (!any) return false;
  }
  uint64_t stamp = StampOf(h);
  if (since && since->hasDate && stamp < since->stamp) return false;
  if (until && until->hasDate && stamp > until->stamp) return false;
  return true;
}

}  // namespace q7m::traceview
