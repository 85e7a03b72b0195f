// Handles of open files: entries of the kernel-object handle table of kind
// kFile, so Q7M_CloseHandle closes them like every other handle.
#pragma once

#include <memory>
#include <utility>

#include "file_object.h"
#include "handle_table.h"
#include "q7m/platform.h"

namespace q7m::platform {

// A counted reference to an open file: the file stays open while it is
// held, even if another thread closes the handle meanwhile.
class FileRef {
 public:
  explicit FileRef(ObjectRef ref) : ref_(std::move(ref)) {}
  FileObject* operator->() const { return static_cast<FileObject*>(ref_.get()); }
  explicit operator bool() const { return static_cast<bool>(ref_); }

 private:
  ObjectRef ref_;
};

// Enters `file` into the handle table; null with the last error set when no
// handle can be made (the file is closed then).
Q7M_HANDLE InsertFileHandle(std::unique_ptr<FileObject> file);
// The file behind `handle`; empty with Q7M_ERROR_INVALID_HANDLE when it is
// no open file handle.
FileRef FindFileHandle(Q7M_HANDLE handle);

}  // namespace q7m::platform
