// Stamps that tell two lock holders of one thread apart.
#pragma once

#include <cstdint>

namespace q7m {

// A new stamp from the millisecond tick counter, never 0 and never equal to
// the previous stamp issued in this process: two objects locking within the
// same millisecond must still be different holders.
uint32_t NewLockStamp();

}  // namespace q7m
