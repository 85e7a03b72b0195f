// How an object name becomes a file name in the namespace directory.
//
// Object names are arbitrary text (backslashes, tabs, slashes, any byte but
// NUL). Bytes outside [A-Za-z0-9._-] (and a leading dot) are written as %XX,
// so distinct names never share a file and no name can climb out of the
// directory or hide as a dot file. A result too long for a directory entry
// becomes a readable prefix, "%h" and the SHA-256 of the whole name.
// '%' followed by anything but two upper-case hex digits never comes out of
// the escaping, which keeps the namespace's own files (below) apart from
// every object's.
#pragma once

#include <cstddef>
#include <string>

namespace q7m::platform {

// Longest object name accepted (the Win32 limit of a kernel object name).
constexpr size_t kMaxObjectNameLength = 32767;
// Appended to an object's file name for the FIFO of a named event.
constexpr const char kSignalFileSuffix[] = "%fifo";

// The file name of object `name` (non-empty). False when the name is too
// long (longer than kMaxObjectNameLength).
bool ObjectFileName(const char* name, std::string* fileName);

// Whether `fileName` is one ObjectFileName can give (so not a signal FIFO's
// name, nor a dot file, nor a name with any other '%' sequence).
bool IsObjectFileName(const char* fileName);

}  // namespace q7m::platform
