#include "q7m/common/cls_record_file.h"

#include "q7m/common/results.h"

namespace q7m {

namespace {

uint32_t NotOpen() {
  Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
  return kSystemFailure;
}

}  // namespace

clsRecordFile::~clsRecordFile() {
  Close();
}

uint32_t clsRecordFile::Open(const char* path, uint32_t access, uint32_t shareMode) {
  Close();  // reopening must not leak the previous file
  file_ = Q7M_CreateFile(path, access, shareMode, Q7M_OPEN_ALWAYS);
  return file_ != nullptr ? kOk : kSystemFailure;
}

void clsRecordFile::Close() {
  if (file_ == nullptr) return;
  uint32_t lastError = Q7M_GetLastError();
  Q7M_CloseHandle(file_);
  file_ = nullptr;
  Q7M_SetLastError(lastError);
}

uint32_t clsRecordFile::Seek(uint32_t record) {
  if (file_ == nullptr) return NotOpen();
  return Q7M_SetFilePointer(file_, uint64_t{record} * recordSize_) ? kOk : kSystemFailure;
}

uint32_t clsRecordFile::Read(void* buffer, uint32_t count, uint32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  if (file_ == nullptr) return NotOpen();
  return Q7M_ReadFile(file_, buffer, count, bytesRead) ? kOk : kSystemFailure;
}

uint32_t clsRecordFile::Write(const void* buffer, uint32_t count) {
  if (file_ == nullptr) return NotOpen();
  uint32_t written = 0;
  if (!Q7M_WriteFile(file_, buffer, count, &written)) return kSystemFailure;
  return written == count ? kOk : kSystemFailure;
}

uint32_t clsRecordFile::ReadRecordAt(uint32_t record, void* buffer, uint32_t count,
                                     uint32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  if (file_ == nullptr) return NotOpen();
  return Q7M_ReadFileAt(file_, uint64_t{record} * recordSize_, buffer, count, bytesRead)
             ? kOk
             : kSystemFailure;
}

uint32_t clsRecordFile::WriteRecordAt(uint32_t record, const void* buffer, uint32_t count) {
  if (file_ == nullptr) return NotOpen();
  uint32_t written = 0;
  if (!Q7M_WriteFileAt(file_, uint64_t{record} * recordSize_, buffer, count, &written)) {
    return kSystemFailure;
  }
  return written == count ? kOk : kSystemFailure;
}

uint32_t clsRecordFile::Flush() {
  if (file_ == nullptr) return NotOpen();
  return Q7M_FlushFileBuffers(file_) ? kOk : kSystemFailure;
}

uint32_t clsRecordFile::Size(uint64_t* size) {
  if (file_ == nullptr) return NotOpen();
  return Q7M_GetFileSize(file_, size) ? kOk : kSystemFailure;
}

}  // namespace q7m
