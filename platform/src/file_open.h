// Opening a file with the Win32 creation dispositions.
#pragma once

#include <cstdint>
#include <memory>

#include "file_object.h"

namespace q7m::platform {

// Opens `path` for `access` (Q7M_GENERIC_*) with `disposition`
// (Q7M_CREATE_NEW ... Q7M_TRUNCATE_EXISTING). New files get mode 0644 (less
// the umask); the descriptor is close-on-exec. Returns 0 or a Win32 error:
// FILE_EXISTS (CREATE_NEW on an existing file), FILE_NOT_FOUND or
// PATH_NOT_FOUND (missing file or directory), ACCESS_DENIED (also for a
// directory), INVALID_PARAMETER. `existed` tells whether the file was
// there before (for the ALWAYS dispositions' last error).
uint32_t OpenFileObject(const char* path, uint32_t access, uint32_t disposition,
                        std::unique_ptr<FileObject>* file, bool* existed);

}  // namespace q7m::platform
