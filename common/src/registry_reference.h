// A registry reference as written in an INI file:
// "HKEY_LOCAL_MACHINE\SOFTWARE\Q7M\Trace\Mask" = root, subkey path, value.
#pragma once

#include <cstdint>

namespace q7m {

// Resolves `reference` and queries the value into `data` (*size bytes; set
// to the bytes stored). True on success, with *type the value's kind. False
// for text that does not begin with one of the four root names
// (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
// any case), a missing key or value, or a value larger than the buffer.
bool QueryRegistryReference(const char* reference, uint32_t* type, void* data, uint32_t* size);

}  // namespace q7m
