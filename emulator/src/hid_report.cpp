#include "hid_report.h"

#include <cstring>
#include <initializer_list>

namespace q7msim {

namespace {
const uint16_t kSizes[kReportIdCount] = {4, 12, 20, 36, 76, 140, 268, 372, 2068};
constexpr size_t kHeader = 3;  // id + 16-bit length
}  // namespace

size_t ReportSize(unsigned id) {
  return id >= 1 && id <= kReportIdCount ? kSizes[id - 1] : 0;
}

unsigned ReportIdFor(size_t used) {
  for (unsigned id = 1; id < kReportIdCount; ++id) {
    if (kSizes[id - 1] >= used) return id;
  }
  return kReportIdCount;
}

bool IsReportSize(size_t length) {
  for (uint16_t size : kSizes) {
    if (size == length) return true;
  }
  return false;
}

size_t BuildInputReport(const uint8_t* message, size_t size, InputForm form, uint8_t* out,
                        size_t reportLength, bool* cut) {
  std::memset(out, 0, reportLength);
  *cut = false;
  if (form == InputForm::kRawIdZero) {
    size_t room = reportLength - 1;
    if (size > room) {
      size = room;
      *cut = true;
    }
    out[0] = 0;
    std::memcpy(out + 1, message, size);
    return reportLength;
  }
  size_t room = reportLength - kHeader;
  if (size > room) {
    size = room;
    *cut = true;
  }
  size_t lengthField = size;
  if (form == InputForm::kZeroLength) lengthField = 0;
  if (form == InputForm::kLongLength) lengthField = room + 1;
  out[0] = static_cast<uint8_t>(ReportIdFor(size + kHeader));
  out[1] = static_cast<uint8_t>(lengthField >> 8);
  out[2] = static_cast<uint8_t>(lengthField & 0xFF);
  std::memcpy(out + kHeader, message, size);
  return reportLength;
}

const char* ParseOutputReport(const uint8_t* packet, size_t length, size_t reportLength,
                              OutputReport* report) {
  if (length > reportLength) return "longer than the output report length";
  if (length < kHeader) return "shorter than a report header";
  unsigned id = packet[0];
  if (id == 0 || id > kReportIdCount) return "unknown report id";
  size_t size = (static_cast<size_t>(packet[1]) << 8) | packet[2];
  if (size + kHeader > ReportSize(id)) return "length field beyond the report id's size";
  if (size + kHeader > length) return "length field beyond the data received";
  report->id = id;
  report->message = packet + kHeader;
  report->size = size;
  report->idNotSmallest = id != ReportIdFor(size + kHeader);
  return nullptr;
}

size_t BuildReportDescriptor(size_t inputLength, size_t outputLength, uint8_t* out,
                             size_t capacity) {
  size_t n = 0;
  auto put = [&](std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) {
      if (n < capacity) out[n] = b;
      ++n;
    }
  };
  put({0x06, 0x00, 0xFF});  // Usage Page (vendor defined 0xFF00)
  put({0x09, 0x01});        // Usage (1)
  put({0xA1, 0x01});        // Collection (Application)
  put({0x15, 0x00});        // Logical Minimum (0)
  put({0x26, 0xFF, 0x00});  // Logical Maximum (255)
  put({0x75, 0x08});        // Report Size (8)
  for (int pass = 0; pass < 2; ++pass) {
    size_t limit = pass == 0 ? inputLength : outputLength;
    for (unsigned id = 1; id <= kReportIdCount && ReportSize(id) <= limit; ++id) {
      size_t count = ReportSize(id) - 1;
      put({0x85, static_cast<uint8_t>(id)});  // Report ID
      put({0x96, static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8)});
      put({0x09, 0x01});                                           // Usage (1)
      put({static_cast<uint8_t>(pass == 0 ? 0x81 : 0x91), 0x02});  // Input / Output (Data,Var,Abs)
    }
  }
  put({0xC0});  // End Collection
  return n <= capacity ? n : 0;
}

}  // namespace q7msim
