// The execution service's codes, the reader's error table and the
// evaluation of a response.
#include "result_map.h"

#include <array>

#include "q7m/rdax_result.h"
#include "q7m/sequor_result.h"
#include "response_view.h"

namespace q7m::rdax {

uint32_t RdaxMapSequorCode(uint32_t code) {
  switch (code) {
    case SEQUOR_SUCCESS:
      return RDAX_OK;
    case SEQUOR_INVALID_HANDLE:
    case SEQUOR_COMMAND_TOO_LONG:
    case SEQUOR_INVALID_PARAMETER:
      return RDAX_E_PARAMETER;
    case SEQUOR_PORT_TIMEOUT:
    case SEQUOR_LINE_FAULT:
      return RDAX_E_COMMUNICATION;
    case SEQUOR_CANCELLED:
      return RDAX_W_CANCELLED;
    case SEQUOR_MALFORMED_RESPONSE:
    case SEQUOR_RESPONSE_TOO_LONG:
      return RDAX_E_FAULTY_REPLY;
    case SEQUOR_DEVICE_REMOVED:
      return RDAX_F_NOT_CONNECTED;
    case SEQUOR_NO_MORE_DEVICES:
      return RDAX_E_NO_DEVICE;
    case SEQUOR_NOT_SUPPORTED:
      return RDAX_F_LINE;
    case SEQUOR_LOCKED_BY_OTHER:
      return RDAX_E_RESTRICTED;
    case SEQUOR_LOCKED_BY_SELF:
      return RDAX_W_RESTRICTION_HELD;
    case SEQUOR_NOT_LOCKED_BY_SELF:
      return RDAX_W_RESTRICTION_NOT_HELD;
    case SEQUOR_TIMEOUT:
      return RDAX_E_BUSY;
    case SEQUOR_ASYNC_STARTED:
      return RDAX_I_ASYNC_STARTED;
    case SEQUOR_SYSTEM_ERROR:
      return RDAX_F_SYSTEM;
    default:
      // Results this library stored earlier come back through here.
      return code;
  }
}

bool IsApiLockHeld(uint32_t code) {
  return code == SEQUOR_LOCKED_BY_OTHER || code == SEQUOR_LOCKED_BY_SELF || code == SEQUOR_TIMEOUT;
}

namespace {

// Rows 0-143 are the codes "00"-"8F", 144-175 "A0"-"BF", 176-191 "J0"-"JF".
constexpr int kRowsDigits = 144;
constexpr int kRowA = 144;
constexpr int kRowJ = 176;
constexpr int kRows = 192;

struct Deviation {
  int row;
  uint32_t result;
};

constexpr int DigitRow(int hex) {
  return hex;
}
constexpr int ARow(int hex) {
  return kRowA + hex - 0xA0;
}
constexpr int JRow(int x) {
  return kRowJ + x;
}

// The rows that differ from "0x84000000 plus the code".
constexpr Deviation kDeviations[] = {
    {DigitRow(0x00), 0x44030000}, {DigitRow(0x01), 0x44030001}, {DigitRow(0x02), 0x44030002},
    {DigitRow(0x03), 0x44030003}, {DigitRow(0x07), 0x84030000}, {DigitRow(0x08), 0x84030001},
    {DigitRow(0x0A), 0x84010008}, {DigitRow(0x0B), 0x84010009}, {DigitRow(0x10), 0x84010001},
    {DigitRow(0x11), 0x84010002}, {DigitRow(0x18), 0xC3000002}, {DigitRow(0x19), 0x84010000},
    {DigitRow(0x33), 0x44020000}, {DigitRow(0x40), 0x44040000}, {DigitRow(0x41), 0x44040001},
    {DigitRow(0x42), 0x44040002}, {DigitRow(0x43), 0x44040003}, {DigitRow(0x44), 0x44040004},
    {DigitRow(0x45), 0x44040005}, {DigitRow(0x46), 0x44040006}, {DigitRow(0x49), 0x44040009},
    {DigitRow(0x4A), 0x4404000A}, {DigitRow(0x60), 0x84000061}, {DigitRow(0x61), 0x44070005},
    {DigitRow(0x64), 0x44070009}, {DigitRow(0x70), 0x84020000}, {DigitRow(0x71), 0x84010000},
    {DigitRow(0x72), 0x84020001}, {DigitRow(0x80), 0x44050000}, {DigitRow(0x81), 0x84010002},
    {DigitRow(0x82), 0x44050001}, {DigitRow(0x84), 0x44050002}, {DigitRow(0x85), 0x44050003},
    {DigitRow(0x86), 0x44050004}, {DigitRow(0x87), 0x44050005}, {DigitRow(0x88), 0x84010005},
    {DigitRow(0x89), 0x44050006}, {DigitRow(0x8A), 0x44050007}, {ARow(0xA0), 0x440E0000},
    {ARow(0xA2), 0x440E0001},     {ARow(0xA4), 0x440E0002},     {ARow(0xA5), 0x440E0003},
    {ARow(0xA6), 0x440E0004},     {ARow(0xA7), 0x440E0005},     {ARow(0xA9), 0x440E0006},
    {JRow(0x0), 0x44060001},      {JRow(0x2), 0x44060000},      {JRow(0x4), 0x44060002},
    {JRow(0x9), 0x44060003},      {JRow(0xB), 0x44060004},
};

constexpr std::array<uint32_t, kRows> BuildTable() {
  std::array<uint32_t, kRows> table{};
  for (int row = 0; row < kRows; ++row) {
    if (row < kRowsDigits) {
      table[row] = RDAX_E_READER_UNKNOWN + static_cast<uint32_t>(row);
    } else if (row < kRowJ) {
      table[row] = RDAX_E_READER_UNKNOWN + 0xA0u + static_cast<uint32_t>(row - kRowA);
    } else {
      table[row] = RDAX_E_READER_UNKNOWN + 0x130u + static_cast<uint32_t>(row - kRowJ);
    }
  }
  for (const Deviation& d : kDeviations) table[d.row] = d.result;
  return table;
}

constexpr std::array<uint32_t, kRows> kReaderErrors = BuildTable();

static_assert(kReaderErrors[0x4B] == 0x8400004B && kReaderErrors[ARow(0xBF)] == 0x840000BF &&
              kReaderErrors[JRow(0xF)] == 0x8400013F && kReaderErrors[ARow(0xA1)] == 0x840000A1);

// "0"-"9" count 0-9, every other character its code minus 55 ("A" 10,
// "Z" 35). Characters below "7" would count negative and land on the rows of
// unrelated codes: they are no code at all.
constexpr int CharValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return static_cast<unsigned char>(c) - 55;
}

}  // namespace

uint32_t RdaxMapReaderError(char c1, char c2) {
  if (c1 == '1') {
    switch (c2) {
      case 'Y':
        return RDAX_E_READER_1Y;
      case 'Z':
        return RDAX_E_READER_1Z;
      case 'H':
        return RDAX_E_READER_1H;
      case 'J':
        return RDAX_E_READER_1J;
      default:
        break;
    }
  }
  if (CharValue(c2) < 0) return RDAX_E_READER_UNKNOWN;
  int row;
  if (c1 == 'A' || c1 == 'B') {
    row = kRowA + 16 * (c1 - 'A') + CharValue(c2);
  } else if (c1 == 'J') {
    row = kRowJ + CharValue(c2);
  } else if (c1 >= '0' && c1 <= '9') {
    // "90"-"9F" land on the rows of "A0"-"AF" and answer as those.
    row = 16 * CharValue(c1) + CharValue(c2);
  } else {
    return RDAX_E_READER_UNKNOWN;
  }
  if (row < 0 || row >= kRows) return RDAX_E_READER_UNKNOWN;
  return kReaderErrors[static_cast<size_t>(row)];
}

namespace {

// The track set character of a positive track-read reply names how many
// two-character track results follow at offset 6.
int TrackResultCount(char trackSet) {
  switch (trackSet) {
    case '1':
    case '2':
    case '3':
      return 1;
    case '4':
    case '5':
    case '6':
      return 2;
    case '7':
      return 3;
    default:
      return 0;
  }
}

uint32_t CheckTrackResults(const ResponseView& response) {
  const auto trackSet = response.At(5);
  if (!trackSet) return RDAX_OK;
  const int count = TrackResultCount(*trackSet);
  for (int i = 0; i < count; ++i) {
    const auto result = response.Field(6 + 2 * static_cast<uint32_t>(i), 2);
    if (!result) break;  // results that did not arrive are the parser's to refuse
    if ((*result)[0] == '4') return RdaxMapReaderError((*result)[0], (*result)[1]);
  }
  return RDAX_OK;
}

}  // namespace

uint32_t RdaxCheckResponse(const char* data, uint32_t length) {
  const ResponseView response(data, length);
  const auto kind = response.Kind();
  if (!kind) return RDAX_OK;
  switch (*kind) {
    case 'E':
      return RDAX_W_CANCELLED;
    case 'N': {
      // A refusal too short to carry its error code is still a refusal.
      const auto code = response.Status();
      return code ? RdaxMapReaderError((*code)[0], (*code)[1]) : RDAX_E_READER_UNKNOWN;
    }
    case 'P': {
      const auto echoed = response.EchoedCode();
      if (echoed && *echoed == "6a") return CheckTrackResults(response);
      return RDAX_OK;
    }
    default:
      return RDAX_OK;
  }
}

}  // namespace q7m::rdax
