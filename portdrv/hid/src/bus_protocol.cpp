#include "bus_protocol.h"

#include <cstring>

#include "q7m/platform.h"

namespace q7m::hidbus {

namespace {

constexpr uint8_t kOpenMagic[4] = {'Q', 'H', 'B', 'O'};
constexpr uint8_t kAcceptMagic[4] = {'Q', 'H', 'B', 'A'};
constexpr uint8_t kRefuseMagic[4] = {'Q', 'H', 'B', 'R'};
constexpr size_t kRefusePacketSize = 8;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// The strings are printable ASCII by contract; anything else a device sends
// becomes '?' so no control byte reaches a caller's text.
std::string PrintableText(const uint8_t* p, size_t n) {
  std::string text(reinterpret_cast<const char*>(p), n);
  for (char& c : text)
    if (c < 0x20 || c > 0x7E) c = '?';
  return text;
}

}  // namespace

void BuildOpenPacket(uint16_t flags, uint32_t processId, uint8_t packet[kOpenPacketSize]) {
  std::memcpy(packet, kOpenMagic, 4);
  PutU16(packet + 4, kProtocolVersion);
  PutU16(packet + 6, flags);
  PutU16(packet + 8, static_cast<uint16_t>(processId));
  PutU16(packet + 10, static_cast<uint16_t>(processId >> 16));
}

Answer ParseAnswer(const uint8_t* packet, size_t size, Identity* identity) {
  Answer answer;
  if (size >= kRefusePacketSize && std::memcmp(packet, kRefuseMagic, 4) == 0) {
    answer.kind = AnswerKind::kRefuse;
    answer.refuseReason = U16(packet + 6);
    return answer;
  }
  if (size < kAcceptHeaderSize || std::memcmp(packet, kAcceptMagic, 4) != 0 ||
      U16(packet + 4) != kProtocolVersion || U16(packet + 6) != 0)
    return answer;
  const size_t m = U16(packet + 20);
  const size_t p = U16(packet + 22);
  const size_t s = U16(packet + 24);
  const size_t d = U16(packet + 26);
  if (m > kMaxStringLength || p > kMaxStringLength || s > kMaxStringLength ||
      d > kMaxDescriptorLength || kAcceptHeaderSize + m + p + s + d > size)
    return answer;

  Identity result;
  result.vendorId = U16(packet + 8);
  result.productId = U16(packet + 10);
  result.versionNumber = U16(packet + 12);
  result.inputLength = U16(packet + 14);
  result.outputLength = U16(packet + 16);
  result.featureLength = U16(packet + 18);
  const uint8_t* text = packet + kAcceptHeaderSize;
  result.manufacturer = PrintableText(text, m);
  result.product = PrintableText(text + m, p);
  result.serialNumber = PrintableText(text + m + p, s);
  result.reportDescriptor.assign(text + m + p + s, text + m + p + s + d);
  *identity = std::move(result);
  answer.kind = AnswerKind::kAccept;
  return answer;
}

uint32_t RefusalError(uint16_t reason) {
  switch (reason) {
    case kRefuseBusy:
      return Q7M_ERROR_SHARING_VIOLATION;
    case kRefuseTooMany:
      return Q7M_ERROR_ACCESS_DENIED;
    default:
      return Q7M_ERROR_INVALID_DATA;
  }
}

}  // namespace q7m::hidbus
