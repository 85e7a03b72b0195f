// Reading a whole configuration file into memory, with a size bound, so a
// huge or endless file (a FIFO, a device node, a runaway log) never stalls
// or exhausts a caller that only wanted one INI or registry value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace q7m::platform {

// The largest configuration file read (INI or registry). Real ones are a few
// kilobytes; anything near this bound is a mistake, not configuration.
constexpr size_t kMaxConfigFileBytes = size_t{4} << 20;

// Reads the regular file `path` into `content`. Returns 0 or a Win32 error:
// the open failure (FILE_NOT_FOUND, PATH_NOT_FOUND, ACCESS_DENIED, ...),
// ACCESS_DENIED for a directory, INVALID_DATA for anything that is not a
// regular file or is larger than `limit` bytes.
uint32_t ReadBoundedFile(const char* path, size_t limit, std::string* content);

}  // namespace q7m::platform
