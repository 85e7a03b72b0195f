// The HID report layouts from the reader's side. Each report id has a fixed
// size (id byte included):
//   id    1  2  3  4  5   6   7   8    9
//   size  4 12 20 36 76 140 268 372 2068
// A report carries [id][length, 2 bytes big-endian][message][zeros]; the id is
// the smallest whose size holds length + 3. Input report id 0 is the raw
// form: the whole report after the id byte is the response.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7msim {

constexpr size_t kReportIdCount = 9;
constexpr size_t kLargestReport = 2068;

// Size of report `id` (1 to 9), 0 for any other id.
size_t ReportSize(unsigned id);
// The id for a report whose used part (id, length field, message) is `used`
// bytes: the first of 1 to 8 that holds it, else 9.
unsigned ReportIdFor(size_t used);
// True when `length` is one of the report sizes.
bool IsReportSize(size_t length);

enum class InputForm {
  kNormal,
  kZeroLength,  // length field 0, message still in place
  kLongLength,  // length field one beyond what the report can hold
  kRawIdZero,   // id 0, the message from offset 1
};

// Builds one input report of exactly `reportLength` bytes into `out`.
// `cut` tells whether the message had to be shortened to fit the report.
size_t BuildInputReport(const uint8_t* message, size_t size, InputForm form, uint8_t* out,
                        size_t reportLength, bool* cut);

struct OutputReport {
  unsigned id = 0;
  const uint8_t* message = nullptr;
  size_t size = 0;
  // The id is not the smallest that fits (the report is still taken).
  bool idNotSmallest = false;
};

// Checks an output report as it came from the host and finds its message.
// Returns null when it is acceptable, else what is wrong with it.
const char* ParseOutputReport(const uint8_t* packet, size_t length, size_t reportLength,
                              OutputReport* report);

// A vendor-defined report descriptor declaring input and output reports 1 to
// 9 up to the given lengths, so a host can learn the lengths the usual way.
size_t BuildReportDescriptor(size_t inputLength, size_t outputLength, uint8_t* out,
                             size_t capacity);

}  // namespace q7msim
