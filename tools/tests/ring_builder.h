// Builds trace ring files byte by byte for the viewer's tests, the way the
// writer lays them out.
#pragma once

#include <cstdint>
#include <string>

#include "q7m/trace/record_layout.h"

namespace q7mtest {

struct RecordFields {
  uint32_t sequence = 0;
  std::string text;
  uint32_t processId = 0x100;
  uint32_t threadId = 0x101;
  std::string time = "20240501120000";  // YYYYMMDDhhmmss
};

// One record of text length `length`: text cut or padded with blanks, CR LF.
inline std::string MakeRecord(uint32_t length, const RecordFields& fields) {
  q7m::trace::RecordHeader h;
  h.sequence = fields.sequence;
  h.year = static_cast<uint16_t>(std::stoi(fields.time.substr(0, 4)));
  h.month = static_cast<uint16_t>(std::stoi(fields.time.substr(4, 2)));
  h.day = static_cast<uint16_t>(std::stoi(fields.time.substr(6, 2)));
  h.hour = static_cast<uint16_t>(std::stoi(fields.time.substr(8, 2)));
  h.minute = static_cast<uint16_t>(std::stoi(fields.time.substr(10, 2)));
  h.second = static_cast<uint16_t>(std::stoi(fields.time.substr(12, 2)));
  h.processId = fields.processId;
  h.threadId = fields.threadId;
  char header[q7m::trace::kHeaderLength];
  q7m::trace::FormatRecordHeader(h, header);
  std::string text = fields.text.substr(0, length);
  text.resize(length, ' ');
  return std::string(header, sizeof header) + text + "\r\n";
}

// Records with consecutive sequences from `first`, texts "<prefix><n>".
inline std::string MakeRun(uint32_t length, uint32_t first, uint32_t count,
                           const std::string& prefix = "line ") {
  std::string out;
  for (uint32_t i = 0; i < count; ++i) {
    RecordFields fields;
    fields.sequence = (first + i) & q7m::trace::kSequenceMask;
    fields.text = prefix + std::to_string(i);
    out += MakeRecord(length, fields);
  }
  return out;
}

}  // namespace q7mtest
