// The tick count and the calendar time in SYSTEMTIME fields.
#include <time.h>

#include "q7m/platform_sys.h"

namespace {

void Fill(Q7M_SYSTEMTIME* out, const tm& t, long nanoseconds) {
  out->wYear = static_cast<uint16_t>(t.tm_year + 1900);
  out->wMonth = static_cast<uint16_t>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<uint16_t>(t.tm_wday);
  out->wDay = static_cast<uint16_t>(t.tm_mday);
  out->wHour = static_cast<uint16_t>(t.tm_hour);
  out->wMinute = static_cast<uint16_t>(t.tm_min);
  // A leap second (60) is shown as the last second of the minute.
  out->wSecond = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
  out->wMilliseconds = static_cast<uint16_t>(nanoseconds / 1'000'000L);
}

void Now(Q7M_SYSTEMTIME* out, bool local) {
  if (!out) return;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm t{};
  if (local) {
    localtime_r(&now.tv_sec, &t);
  } else {
    gmtime_r(&now.tv_sec, &t);
  }
  Fill(out, t, now.tv_nsec);
}

}  // namespace

extern "C" {

Q7M_EXPORT uint32_t Q7M_API Q7M_GetTickCount(void) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1'000'000u;
  return static_cast<uint32_t>(ms);
}

Q7M_EXPORT void Q7M_API Q7M_GetLocalTime(Q7M_SYSTEMTIME* time) {
  Now(time, true);
}

Q7M_EXPORT void Q7M_API Q7M_GetSystemTime(Q7M_SYSTEMTIME* time) {
  Now(time, false);
}

}  // extern "C"
