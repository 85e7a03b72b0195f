// The card reader's HID report layout: [report id][length, 16-bit
// big-endian][message], the id chosen by the report's used length from a
// fixed table of report sizes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m {

// Largest report of ids 1 to 9, id byte included.
constexpr uint32_t kReportSizes[9] = {4, 12, 20, 36, 76, 140, 268, 372, 2068};
// Bytes of a report beyond the message it can carry, as the reader counts
// them for its largest message sizes.
constexpr uint32_t kReportFraming = 6;
// Report id, length field.
constexpr uint32_t kReportHeader = 3;

// The first of ids 1 to 8 whose size holds `usedLength` bytes, else 9.
uint8_t ReportIdForLength(uint32_t usedLength);

// The largest message of a report length (0 for a report shorter than the
// framing: it carries none).
inline uint32_t MessageRoom(uint32_t reportLength) {
  return reportLength > kReportFraming ? reportLength - kReportFraming : 0;
}

inline uint32_t BigEndian16(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 8) | p[1];
}

inline void PutBigEndian16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}

// Decrypts an input report's cipher blocks in place for TakeInputReport:
// 0, or the failure's result code.
class ReportDecryptor {
 public:
  virtual uint32_t Decrypt(uint8_t* blocks, size_t count) = 0;

 protected:
  ~ReportDecryptor() = default;
};

enum class InputReportOutcome : uint8_t {
  kRaw,               // id 0: everything after the id is the response
  kPlain,             // a plain or decrypted response
  kTooShort,          // fewer than 4 bytes: id, length field and a byte
  kZeroLength,        // the length field says 0
  kLengthOver,        // the length field goes beyond the bytes delivered
  kCipherLength,      // cipher text that is no whole number of blocks
  kDecryptFailed,     // the decryptor's failure is in `failure`
  kDecryptedTooLong,  // the decrypted length goes beyond the cipher text
};

struct InputReport {
  InputReportOutcome outcome;
  uint32_t received = 0;  // bytes copied to the caller's buffer
  uint32_t failure = 0;   // kDecryptFailed: the decryptor's code
};

// One input report of `count` bytes, as the device delivered it into
// `report`, turned into the response in `buffer` (cut to `size`). With a
// decryptor (a session key in use) a report marked encrypted is decrypted in
// place first. Nothing outside the `count` bytes delivered is read.
InputReport TakeInputReport(uint8_t* report, uint32_t count, ReportDecryptor* decryptor,
                            uint8_t* buffer, uint32_t size);

}  // namespace q7m
