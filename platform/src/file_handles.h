// Handles of open files. Q7M_CloseHandle closes any handle of the layer,
// files included, so file handles live in the same handle space as the
// kernel objects.
#pragma once

#include <memory>

#include "file_object.h"
#include "q7m/platform.h"

namespace q7m::platform {

// Registers `file` and returns its new handle (null with the last error set
// when no handle can be made).
Q7M_HANDLE InsertFileHandle(std::unique_ptr<FileObject> file);
// The file behind `handle`, or null when it is no open file handle. The
// object stays alive while the caller holds the reference, even if another
// thread closes the handle meanwhile.
std::shared_ptr<FileObject> FindFileHandle(Q7M_HANDLE handle);
// Closes a file handle; false when it is not one.
bool CloseFileHandle(Q7M_HANDLE handle);

}  // namespace q7m::platform
