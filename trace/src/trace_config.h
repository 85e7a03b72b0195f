// What one trace handle is configured with: the library's section of the INI
// file gives the common settings, the module's section overrides them.
#pragma once

#include <cstdint>

#include "q7m/common/profile.h"

namespace q7m::trace {

// Longest full path of a trace file, including the terminator.
constexpr uint32_t kTracePathCapacity = 262;

struct TraceConfig {
  char path[kTracePathCapacity] = {};
  uint32_t recordLength = 0;  // text characters per record, already capped
  uint32_t maxRecords = 0;
  bool flush = true;
};

// Reads FILEPATH/FILENAME, RECORDLENGTH, MAXRECORD and FILEFLUSH from
// `librarySection`, then from `moduleSection` with those as defaults. A
// record length above the largest one (as an unsigned number) is capped.
TraceConfig ReadTraceConfig(const Profile& profile, const char* librarySection,
                            const char* moduleSection);

}  // namespace q7m::trace
