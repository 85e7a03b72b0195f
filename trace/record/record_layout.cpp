#include "q7m/trace/record_layout.h"

namespace q7m::trace {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void PutHex(uint32_t value, int width, char* out) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = kHexDigits[value & 0xF];
    value >>= 4;
  }
}

void PutDecimal(uint32_t value, int width, char* out) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// Upper-case only: the writer never produces lower case, and a reader that
// accepted it would resume in the middle of foreign data.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadHex(const char* text, int width, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) {
    int d = HexValue(text[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

bool ReadDecimal(const char* text, int width, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  *value = v;
  return true;
}

}  // namespace

void FormatRecordHeader(const RecordHeader& h, char* out) {
  PutHex(h.sequence & kSequenceMask, 6, out);
  out[6] = ',';
  PutDecimal(h.year % 10000u, 4, out + 7);
  PutDecimal(h.month % 100u, 2, out + 11);
  PutDecimal(h.day % 100u, 2, out + 13);
  PutDecimal(h.hour % 100u, 2, out + 15);
  PutDecimal(h.minute % 100u, 2, out + 17);
  PutDecimal(h.second % 100u, 2, out + 19);
  out[21] = ',';
  PutHex(h.processId, 8, out + 22);
  out[30] = ',';
  PutHex(h.threadId, 8, out + 31);
  out[39] = ',';
}

bool ReadRecordSequence(const char* record, size_t size, uint32_t* sequence) {
  if (record == nullptr || size < kSequencedPrefixLength) return false;
  uint32_t seq = 0;
  uint32_t unused = 0;
  if (!ReadHex(record, 6, &seq)) return false;
  if (!ReadDecimal(record + 7, 7, &unused) || !ReadDecimal(record + 14, 7, &unused)) return false;
  *sequence = seq;
  return true;
}

bool ParseRecordHeader(const char* record, size_t size, RecordHeader* header) {
  if (size < kHeaderLength) return false;
  RecordHeader h;
  if (!ReadRecordSequence(record, size, &h.sequence)) return false;
  if (record[6] != ',' || record[21] != ',' || record[30] != ',' || record[39] != ',') return false;
  uint32_t v = 0;
  ReadDecimal(record + 7, 4, &v);
  h.year = static_cast<uint16_t>(v);
  ReadDecimal(record + 11, 2, &v);
  h.month = static_cast<uint16_t>(v);
  ReadDecimal(record + 13, 2, &v);
  h.day = static_cast<uint16_t>(v);
  ReadDecimal(record + 15, 2, &v);
  h.hour = static_cast<uint16_t>(v);
  ReadDecimal(record + 17, 2, &v);
  h.minute = static_cast<uint16_t>(v);
  ReadDecimal(record + 19, 2, &v);
  h.second = static_cast<uint16_t>(v);
  if (!ReadHex(record + 22, 8, &h.processId) || !ReadHex(record + 31, 8, &h.threadId)) {
    return false;
  }
  *header = h;
  return true;
}

bool SequenceRunScanner::Accept(const char* record, size_t size) {
  if (ended_) return false;
  uint32_t seq = 0;
  if (!ReadRecordSequence(record, size, &seq) || (length_ > 0 && !SequenceFollows(last_, seq))) {
    ended_ = true;
    return false;
  }
  last_ = seq;
  ++length_;
  return true;
}

}  // namespace q7m::trace
