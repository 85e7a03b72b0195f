// Fuzz target: the input reports a USB reader sends, one after the other,
// each turned into a response as the HID transport receives it. Byte 0 picks
// the device's input report length (one of the reader's report sizes, or
// any small length a strange device may declare), byte 1 the size of the
// caller's response buffer, byte 2 whether a session key is in use; the rest
// are the reports, each a 16-bit big-endian length and its bytes, delivered
// cut to the report buffer as the provider delivers them. Both buffers are
// heap blocks of exactly their size, so ASan traps any access beyond them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "hid_report.h"

namespace {

// Stands in for the session key: "decrypts" to the same bytes, so the
// input chooses the decrypted length field directly. A plan bit makes it
// fail instead.
class PassDecryptor final : public q7m::ReportDecryptor {
 public:
  explicit PassDecryptor(bool fail) : fail_(fail) {}
  uint32_t Decrypt(uint8_t* blocks, size_t count) override {
    // Touch every byte the cipher text is said to occupy.
    for (size_t i = 0; i < count * 8; ++i) blocks[i] ^= 0;
    return fail_ ? 0x2000000Bu : 0;
  }

 private:
  bool fail_;
};

constexpr uint32_t kCallerSizes[8] = {0, 1, 2, 5, 64, 255, 1024, 4096};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t reportSize = data[0] < 0x80 ? q7m::kReportSizes[data[0] % 9] : data[0] & 0x7F;
  const uint32_t callerSize = kCallerSizes[data[1] % 8];
  PassDecryptor decryptor((data[2] & 2) != 0);
  q7m::ReportDecryptor* key = (data[2] & 1) ? &decryptor : nullptr;
  // As the transport allocates them: never an empty allocation.
  std::unique_ptr<uint8_t[]> report(new uint8_t[reportSize > 0 ? reportSize : 1]);
  std::unique_ptr<uint8_t[]> response(new uint8_t[callerSize > 0 ? callerSize : 1]);

  const uint8_t* next = data + 3;
  size_t left = size - 3;
  while (left >= 2) {
    const size_t declared = (size_t{next[0]} << 8) | next[1];
    next += 2;
    left -= 2;
    const size_t length = declared < left ? declared : left;
    std::memset(report.get(), 0, reportSize > 0 ? reportSize : 1);
    const auto count = static_cast<uint32_t>(length < reportSize ? length : reportSize);
    if (count > 0) std::memcpy(report.get(), next, count);
    next += length;
    left -= length;
    const q7m::InputReport input =
        q7m::TakeInputReport(report.get(), count, key, response.get(), callerSize);
    const bool delivered = input.outcome == q7m::InputReportOutcome::kRaw ||
                           input.outcome == q7m::InputReportOutcome::kPlain;
    if (input.received > callerSize || (!delivered && input.received != 0)) __builtin_trap();
    if (delivered && input.received > count) __builtin_trap();
  }
  return 0;
}
