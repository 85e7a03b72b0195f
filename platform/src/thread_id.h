// The calling thread's kernel id, cached per thread (it is compared on every
// mutex release).
#pragma once

#include <cstdint>

namespace q7m::platform {

uint32_t CurrentThreadId();

}  // namespace q7m::platform
