#include "trace_config.h"

#include <cstring>

#include "q7m/trace/record_layout.h"

namespace q7m::trace {

TraceConfig ReadTraceConfig(const Profile& profile, const char* librarySection,
                            const char* moduleSection) {
  TraceConfig config;
  char libraryPath[kTracePathCapacity] = {};
  profile.GetFilePath(librarySection, "FILEPATH", "FILENAME", libraryPath, sizeof libraryPath, "");
  // The profile reads numbers as signed 32-bit values; the settings are
  // unsigned, so 0xFFFFFFFF is the largest length, not -1.
  auto length = static_cast<uint32_t>(
      profile.GetInteger(librarySection, "RECORDLENGTH", static_cast<int32_t>(kDefaultTextLength)));
  auto records = static_cast<uint32_t>(
      profile.GetInteger(librarySection, "MAXRECORD", static_cast<int32_t>(kDefaultMaxRecords)));
  bool flush = profile.GetSwitch(librarySection, "FILEFLUSH", true);

  profile.GetFilePath(moduleSection, "FILEPATH", "FILENAME", config.path, sizeof config.path,
                      libraryPath);
  config.path[sizeof config.path - 1] = 0;
  length = static_cast<uint32_t>(
      profile.GetInteger(moduleSection, "RECORDLENGTH", static_cast<int32_t>(length)));
  records = static_cast<uint32_t>(
      profile.GetInteger(moduleSection, "MAXRECORD", static_cast<int32_t>(records)));
  config.flush = profile.GetSwitch(moduleSection, "FILEFLUSH", flush);

  config.recordLength = length > kMaxTextLength ? kMaxTextLength : length;
  config.maxRecords = records;
  return config;
}

}  // namespace q7m::trace
