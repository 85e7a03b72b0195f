// The packets a host exchanges with a device of the virtual HID bus before
// reports flow (docs/virtual-hid-bus.md): the open packet it sends, and the
// accept or refuse packet that answers it. Pure encoding and checking; every
// field of an answer is checked against the packet's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace q7m::hidbus {

constexpr uint16_t kProtocolVersion = 1;
constexpr uint16_t kFlagReports = 0x0001;
constexpr uint16_t kFlagExclusive = 0x0002;

constexpr size_t kOpenPacketSize = 12;
constexpr size_t kAcceptHeaderSize = 28;
constexpr size_t kMaxStringLength = 126;
constexpr size_t kMaxDescriptorLength = 4096;
// Room for the largest accept packet, with a margin to notice a longer one.
constexpr size_t kAnswerBufferSize = 4608;

enum RefuseReason : uint16_t {
  kRefuseBusy = 1,
  kRefuseVersion = 2,
  kRefuseMalformed = 3,
  kRefuseTooMany = 4,
};

void BuildOpenPacket(uint16_t flags, uint32_t processId, uint8_t packet[kOpenPacketSize]);

struct Identity {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
  uint16_t inputLength = 0;
  uint16_t outputLength = 0;
  uint16_t featureLength = 0;
  std::string manufacturer;
  std::string product;
  std::string serialNumber;
  std::vector<uint8_t> reportDescriptor;
};

enum class AnswerKind { kAccept, kRefuse, kMalformed };

struct Answer {
  AnswerKind kind = AnswerKind::kMalformed;
  uint16_t refuseReason = 0;
};

// Reads a device's answer to an open packet. kAccept fills `identity`.
Answer ParseAnswer(const uint8_t* packet, size_t size, Identity* identity);

// The Win32 error a refusal stands for.
uint32_t RefusalError(uint16_t reason);

}  // namespace q7m::hidbus
