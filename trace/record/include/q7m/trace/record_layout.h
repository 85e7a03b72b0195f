// The layout of one trace record, shared by the writer (libSCRIBEL) and the
// ring viewer, so both agree byte for byte on what a record is.
//
// A record is one text line of L + 42 bytes:
//   0  6  sequence number, upper-case hex
//   6  1  ','
//   7 14  local time YYYYMMDDhhmmss
//  21  1  ','
//  22  8  process id, upper-case hex
//  30  1  ','
//  31  8  thread id, upper-case hex
//  39  1  ','
//  40  L  text, cut to L bytes and padded with blanks
//  40+L 2 CR LF
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m::trace {

constexpr uint32_t kHeaderLength = 40;
constexpr uint32_t kLineEndLength = 2;
constexpr uint32_t kRecordOverhead = kHeaderLength + kLineEndLength;
constexpr uint32_t kDefaultTextLength = 86;
constexpr uint32_t kMaxTextLength = 982;
constexpr uint32_t kDefaultMaxRecords = 1000;
constexpr uint32_t kSequenceMask = 0xFFFFFF;
// The prefix of a record that must be well formed for it to count as part
// of a run of records (sequence and time stamp).
constexpr uint32_t kSequencedPrefixLength = 21;

struct RecordHeader {
  uint32_t sequence = 0;  // 24 bits
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint32_t processId = 0;
  uint32_t threadId = 0;
};

// Writes the 40 header bytes (no terminator). Fields wider than their
// columns are reduced so the header is always exactly 40 bytes long.
void FormatRecordHeader(const RecordHeader& header, char* out);

// The rule by which a ring is resumed: the first 6 bytes are hex digits
// (0-9, A-F) and the 14 bytes from offset 7 are decimal digits. On success
// the sequence number is stored.
bool ReadRecordSequence(const char* record, size_t size, uint32_t* sequence);

// A stricter check for readers: the resume rule plus the separators and the
// two id columns. On success every header field is stored.
bool ParseRecordHeader(const char* record, size_t size, RecordHeader* header);

// True when `next` is the sequence number right after `previous` (24-bit,
// so FFFFFF is followed by 000000).
constexpr bool SequenceFollows(uint32_t previous, uint32_t next) {
  return ((next - previous) & kSequenceMask) == 1 && next <= kSequenceMask;
}

// Follows the unbroken run of consecutive records that starts at slot 0:
// feed records in slot order until Accept answers false. The writer resumes
// at slot length() with sequence nextSequence(); in a ring that has wrapped,
// that slot holds the oldest record.
class SequenceRunScanner {
 public:
  // Offers the record of the next slot; false when it does not continue the
  // run (the run then ends before it, and later calls keep answering false).
  bool Accept(const char* record, size_t size);
  uint32_t length() const { return length_; }
  uint32_t nextSequence() const { return length_ == 0 ? 0 : (last_ + 1) & kSequenceMask; }

 private:
  uint32_t length_ = 0;
  uint32_t last_ = 0;
  bool ended_ = false;
};

}  // namespace q7m::trace
