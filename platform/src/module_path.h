// Where a loaded module (shared object or the executable) lives on disk.
#pragma once

#include <cstdint>
#include <string>

namespace q7m::platform {

// Full path of the module that contains `address`; null: the executable.
// Returns 0 or a Win32 error (MOD_NOT_FOUND when no module holds the
// address).
uint32_t ModulePathOf(const void* address, std::string* path);

}  // namespace q7m::platform
