// Opening and closing sessions (SEQUOR_Open, SEQUOR_Close and the library's
// detach).
#pragma once

#include "q7m/sequor.h"

namespace q7m {

// Null with the thread's last error set on failure.
SEQUOR_HANDLE OpenSession(const char* name, const SEQUOR_OPEN_PARAMS* params);
uint32_t CloseSession(SEQUOR_HANDLE handle);
// Closes every session nobody is using (the library leaves the process).
void CloseIdleSessions();

}  // namespace q7m
