// A file of fixed-size records.
#pragma once

#include <cstdint>

#include "q7m/platform_sys.h"

namespace q7m {

class clsRecordFile {
 public:
  explicit clsRecordFile(uint32_t recordSize) : recordSize_(recordSize) {}
  ~clsRecordFile();
  clsRecordFile(const clsRecordFile&) = delete;
  clsRecordFile& operator=(const clsRecordFile&) = delete;

  // Opens, creating the file when it does not exist. access: Q7M_GENERIC_*.
  // kOk or kSystemFailure.
  uint32_t Open(const char* path, uint32_t access, uint32_t shareMode);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // Positions at record r (r x record size from the start). kOk or
  // kSystemFailure.
  uint32_t Seek(uint32_t record);
  // kOk and the count read, or kSystemFailure.
  uint32_t Read(void* buffer, uint32_t count, uint32_t* bytesRead);
  // kOk only when all bytes were written, else kSystemFailure.
  uint32_t Write(const void* buffer, uint32_t count);
  // Positioned forms that leave the file pointer alone (for writers that
  // serialise on their own lock and need no seek).
  uint32_t ReadRecordAt(uint32_t record, void* buffer, uint32_t count, uint32_t* bytesRead);
  uint32_t WriteRecordAt(uint32_t record, const void* buffer, uint32_t count);
  uint32_t Flush();
  // kOk and the file size in bytes, or kSystemFailure.
  uint32_t Size(uint64_t* size);

  uint32_t recordSize() const { return recordSize_; }

 private:
  Q7M_HANDLE file_ = nullptr;
  uint32_t recordSize_;
};

}  // namespace q7m
