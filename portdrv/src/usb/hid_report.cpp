#include "hid_report.h"

#include <cstring>

#include "session_key_record.h"

namespace q7m {

uint8_t ReportIdForLength(uint32_t usedLength) {
  for (uint8_t id = 1; id <= 8; ++id)
    if (kReportSizes[id - 1] >= usedLength) return id;
  return 9;
}

InputReport TakeInputReport(uint8_t* report, uint32_t count, ReportDecryptor* decryptor,
                            uint8_t* buffer, uint32_t size) {
  if (count < 4) return {InputReportOutcome::kTooShort};
  if (report[0] == 0) {
    // The raw form: everything after the id is the response, as received.
    const uint32_t n = size < count - 1 ? size : count - 1;
    if (n > 0) std::memcpy(buffer, report + 1, n);
    return {InputReportOutcome::kRaw, n};
  }
  const uint32_t length = BigEndian16(report + 1);
  if (length == 0) return {InputReportOutcome::kZeroLength};
  // The length must stay within the bytes the device actually delivered.
  if (length > count - kReportHeader) return {InputReportOutcome::kLengthOver};
  uint32_t responseLength = length;
  const uint8_t* response = report + kReportHeader;
  if (decryptor != nullptr && report[3] == kEncryptedMarker) {
    const uint32_t cipherLength = length - 1;
    if (cipherLength % kCipherBlock != 0) return {InputReportOutcome::kCipherLength};
    // No cipher block, no inner length field: reading one would go past
    // the bytes delivered (a report of the smallest size ends right there).
    if (cipherLength == 0) return {InputReportOutcome::kDecryptedTooLong};
    uint8_t* area = report + 4;
    if (const uint32_t r = decryptor->Decrypt(area, cipherLength / kCipherBlock); r != 0)
      return {InputReportOutcome::kDecryptFailed, 0, r};
    responseLength = BigEndian16(area);
    // The response must lie inside the decrypted blocks.
    if (responseLength > cipherLength - 2) return {InputReportOutcome::kDecryptedTooLong};
    response = area + 2;
  }
  const uint32_t n = size < responseLength ? size : responseLength;
  if (n > 0) std::memcpy(buffer, response, n);
  return {InputReportOutcome::kPlain, n};
}

}  // namespace q7m
