// Q7M_FormatMessage: every error number the stack reports has its system
// text, and the buffer rules hold.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "q7m/platform_sys.h"

namespace {

std::string Text(uint32_t code) {
  char buffer[512];
  uint32_t n = Q7M_FormatMessage(code, buffer, sizeof buffer);
  EXPECT_EQ(n, std::strlen(buffer)) << code;
  return buffer;
}

TEST(ErrorTextTest, EveryNumberTheStackReportsHasAText) {
  const uint32_t codes[] = {
      Q7M_ERROR_SUCCESS,
      Q7M_ERROR_INVALID_FUNCTION,
      Q7M_ERROR_FILE_NOT_FOUND,
      Q7M_ERROR_PATH_NOT_FOUND,
      Q7M_ERROR_TOO_MANY_OPEN_FILES,
      Q7M_ERROR_ACCESS_DENIED,
      Q7M_ERROR_INVALID_HANDLE,
      Q7M_ERROR_NOT_ENOUGH_MEMORY,
      Q7M_ERROR_INVALID_DATA,
      Q7M_ERROR_OUTOFMEMORY,
      Q7M_ERROR_NOT_READY,
      Q7M_ERROR_CRC,
      Q7M_ERROR_WRITE_FAULT,
      Q7M_ERROR_READ_FAULT,
      Q7M_ERROR_GEN_FAILURE,
      Q7M_ERROR_SHARING_VIOLATION,
      Q7M_ERROR_LOCK_VIOLATION,
      Q7M_ERROR_HANDLE_EOF,
      Q7M_ERROR_NOT_SUPPORTED,
      Q7M_ERROR_FILE_EXISTS,
      Q7M_ERROR_INVALID_PARAMETER,
      Q7M_ERROR_BROKEN_PIPE,
      Q7M_ERROR_DISK_FULL,
      Q7M_ERROR_INSUFFICIENT_BUFFER,
      Q7M_ERROR_INVALID_NAME,
      Q7M_ERROR_MOD_NOT_FOUND,
      Q7M_ERROR_PROC_NOT_FOUND,
      Q7M_ERROR_BUSY,
      Q7M_ERROR_ALREADY_EXISTS,
      Q7M_ERROR_FILENAME_EXCED_RANGE,
      Q7M_ERROR_MORE_DATA,
      Q7M_ERROR_NO_MORE_ITEMS,
      Q7M_ERROR_NOT_OWNER,
      Q7M_ERROR_PARTIAL_COPY,
      Q7M_ERROR_OPERATION_ABORTED,
      Q7M_ERROR_IO_INCOMPLETE,
      Q7M_ERROR_IO_PENDING,
      Q7M_ERROR_NOACCESS,
      Q7M_ERROR_BADKEY,
      Q7M_ERROR_DEVICE_NOT_CONNECTED,
      Q7M_ERROR_NOT_FOUND,
      Q7M_ERROR_INVALID_WINDOW_HANDLE,
      Q7M_ERROR_TIMEOUT,
  };
  for (uint32_t code : codes) {
    std::string text = Text(code);
    ASSERT_FALSE(text.empty()) << "no text for " << code;
    EXPECT_EQ(text.back(), '.') << code;  // a sentence, no trailing line break
  }
  EXPECT_EQ(Text(Q7M_ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
  EXPECT_EQ(Text(Q7M_ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_EQ(Text(Q7M_ERROR_NOT_OWNER), "Attempt to release mutex not owned by caller.");
  EXPECT_EQ(Text(Q7M_ERROR_TIMEOUT), "This operation returned because the timeout period expired.");
  EXPECT_EQ(Text(Q7M_ERROR_DEVICE_NOT_CONNECTED), "The device is not connected.");
  EXPECT_EQ(Text(Q7M_ERROR_OPERATION_ABORTED),
            "The I/O operation has been aborted because of either a thread exit or an "
            "application request.");
}

TEST(ErrorTextTest, EveryNumberThePlatformHeaderNamesAndEveryErrnoTranslationHasAText) {
  // The header is the one list the libraries take their numbers from.
  std::ifstream header(Q7M_PLATFORM_HEADER);
  ASSERT_TRUE(header.good()) << Q7M_PLATFORM_HEADER;
  int named = 0;
  for (std::string line; std::getline(header, line);) {
    char name[64];
    unsigned number;
    if (std::sscanf(line.c_str(), "#define %63s %uu", name, &number) != 2 ||
        std::strncmp(name, "Q7M_ERROR_", 10) != 0)
      continue;
    ++named;
    EXPECT_FALSE(Text(number).empty()) << name;
  }
  EXPECT_GT(named, 40);
  for (int err = 0; err < 134; ++err) {
    const uint32_t code = Q7M_Win32ErrorFromErrno(err);
    EXPECT_FALSE(Text(code).empty()) << "errno " << err << " gives " << code;
  }
  EXPECT_EQ(Text(Q7M_ERROR_TOO_MANY_TCBS), "Cannot create another thread.");
  EXPECT_EQ(Text(Q7M_ERROR_BAD_DEVICE), "The specified device name is invalid.");
}

TEST(ErrorTextTest, ShortBufferCutsUnknownNumberFails) {
  char buffer[8];
  Q7M_SetLastError(0);
  EXPECT_EQ(Q7M_FormatMessage(Q7M_ERROR_ACCESS_DENIED, buffer, sizeof buffer), 7u);
  EXPECT_STREQ(buffer, "Access ");
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INSUFFICIENT_BUFFER);

  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(Q7M_FormatMessage(0xDEADu, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(Q7M_GetLastError(), 317u);  // no text for this number

  EXPECT_EQ(Q7M_FormatMessage(Q7M_ERROR_ACCESS_DENIED, nullptr, 0), 0u);
  EXPECT_EQ(Q7M_FormatMessage(Q7M_ERROR_ACCESS_DENIED, nullptr, 10), 0u);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
}

}  // namespace
