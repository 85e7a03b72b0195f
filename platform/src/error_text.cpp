// The system texts of Win32 error numbers, for error boxes and logs. The
// table holds the English texts as the system gives them (without the line
// break FormatMessage appends): every number this stack reports, and the
// ones a user commonly meets besides. Texts with inserts (%1) are left out,
// as FormatMessage without arguments could not fill them either.
#include <algorithm>
#include <array>
#include <string_view>

#include "q7m/platform_sys.h"
#include "text_out.h"

namespace {

struct ErrorText {
  uint32_t code;
  std::string_view text;
};

// Sorted by code (checked at compile time below).
constexpr ErrorText kErrorTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {7, "The storage control blocks were destroyed."},
    {8, "Not enough memory resources are available to process this command."},
    {9, "The storage control block address is invalid."},
    {10, "The environment is incorrect."},
    {11, "An attempt was made to load a program with an incorrect format."},
    {12, "The access code is invalid."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {16, "The directory cannot be removed."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {20, "The system cannot find the device specified."},
    {21, "The device is not ready."},
    {22, "The device does not recognize the command."},
    {23, "Data error (cyclic redundancy check)."},
    {24, "The program issued a command but the command length is incorrect."},
    {25, "The drive cannot locate a specific area or track on the disk."},
    {26, "The specified disk or diskette cannot be accessed."},
    {27, "The drive cannot find the sector requested."},
    {28, "The printer is out of paper."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {36, "Too many files opened for sharing."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {55, "The specified network resource or device is no longer available."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {110, "The system cannot open the device or file specified."},
    {111, "The file name is too long."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {121, "The semaphore timeout period has expired."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {128, "There are no child processes to wait for."},
    {145, "The directory is not empty."},
    {155, "Cannot create another thread."},
    {161, "The specified path is invalid."},
    {164, "No more threads can be created in the system."},
    {167, "Unable to lock a region of a file."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {230, "The pipe state is invalid."},
    {231, "All pipe instances are busy."},
    {232, "The pipe is being closed."},
    {233, "No process is on the other end of the pipe."},
    {234, "More data is available."},
    {258, "The wait operation timed out."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {288, "Attempt to release mutex not owned by caller."},
    {298, "Too many posts were made to a semaphore."},
    {299, "Only part of a ReadProcessMemory or WriteProcessMemory request was completed."},
    {487, "Attempt to access invalid address."},
    {995,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {996, "Overlapped I/O event is not in a signaled state."},
    {997, "Overlapped I/O operation is in progress."},
    {998, "Invalid access to memory location."},
    {1004, "Invalid flags."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1167, "The device is not connected."},
    {1168, "Element not found."},
    {1200, "The specified device name is invalid."},
    {1223, "The operation was canceled by the user."},
    {1400, "Invalid window handle."},
    {1450, "Insufficient system resources exist to complete the requested service."},
    {1455, "The paging file is too small for this operation to complete."},
    {1460, "This operation returned because the timeout period expired."},
};

constexpr bool IsSortedByCode() {
  for (size_t i = 1; i < std::size(kErrorTexts); ++i) {
    if (kErrorTexts[i - 1].code >= kErrorTexts[i].code) return false;
  }
  return true;
}
static_assert(IsSortedByCode(), "kErrorTexts must be sorted by code, without duplicates");

// Win32's ERROR_MR_MID_NOT_FOUND: no text for this number.
constexpr uint32_t kNoMessageForNumber = 317;

}  // namespace

extern "C" Q7M_EXPORT uint32_t Q7M_API Q7M_FormatMessage(uint32_t code, char* buffer,
                                                         uint32_t size) {
  if (buffer == nullptr && size != 0) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto it = std::lower_bound(std::begin(kErrorTexts), std::end(kErrorTexts), code,
                             [](const ErrorText& e, uint32_t c) { return e.code < c; });
  if (it == std::end(kErrorTexts) || it->code != code) {
    if (size > 0) buffer[0] = '\0';
    Q7M_SetLastError(kNoMessageForNumber);
    return 0;
  }
  return q7m::platform::CopyTextCut(it->text, buffer, size);
}
