// Read access to a trace ring file: the record length it was written with
// and its slots, read with positioned reads so a ring that is being written
// can be read at the same time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "q7m/trace/record_layout.h"

namespace q7m::traceview {

// One record as read from a slot.
struct TraceRecord {
  uint64_t slot = 0;
  trace::RecordHeader header;
  std::string_view text;  // the text area, padding included
};

// True when `bytes` (one slot of recordSize bytes) holds a whole record:
// a well-formed header and CR LF at its end. `out` views into `bytes`.
bool ParseSlot(std::string_view bytes, uint64_t slot, TraceRecord* out);

// Picks the record length of a ring from its first bytes (`head`, which may
// be shorter than the file): the length at which the most records in a row
// from slot 0 are whole, preferring lengths that divide the file size, then
// shorter ones. Nothing when slot 0 holds no record at any length.
std::optional<uint32_t> DetectRecordLength(std::string_view head, uint64_t fileSize);

class RingFile {
 public:
  RingFile() = default;
  ~RingFile();
  RingFile(const RingFile&) = delete;
  RingFile& operator=(const RingFile&) = delete;

  // Opens the file for reading. On failure `error` says why, in words.
  bool Open(const std::string& path, std::string* error);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  // Works out the record length from the file. False with `error` when the
  // file is empty or does not start with a record.
  bool DetectLength(std::string* error);
  void SetRecordLength(uint32_t textLength) { recordLength_ = textLength; }
  uint32_t recordLength() const { return recordLength_; }
  uint32_t recordSize() const { return recordLength_ + trace::kRecordOverhead; }

  // Current size of the file in bytes, and the number of whole slots in it.
  uint64_t FileSize() const;
  uint64_t SlotCount() const;

  // Reads `count` slots from `first` into `buffer` (resized); returns the
  // number of whole slots read.
  uint64_t ReadSlots(uint64_t first, uint64_t count, std::vector<char>* buffer) const;
  // Reads and parses one slot; false when it holds no whole record.
  bool ReadRecord(uint64_t slot, std::vector<char>* buffer, TraceRecord* out) const;

 private:
  int fd_ = -1;
  std::string path_;
  uint32_t recordLength_ = 0;
};

}  // namespace q7m::traceview
