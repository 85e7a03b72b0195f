// Constants of the virtual HID bus (docs/virtual-hid-bus.md is the full
// description a host is written from).
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7msim::hidbus {

// Every device is a SOCK_SEQPACKET socket "<name>.hid" in the bus directory.
constexpr const char kSocketSuffix[] = ".hid";
constexpr const char kDirectoryVariable[] = "Q7M_HIDBUS_DIR";

constexpr uint16_t kVersion = 1;

// Host -> device, first packet on a connection.
constexpr uint8_t kOpenMagic[4] = {'Q', 'H', 'B', 'O'};
constexpr size_t kOpenSize = 12;
constexpr uint16_t kOpenReports = 0x0001;    // receive input reports, send output reports
constexpr uint16_t kOpenExclusive = 0x0002;  // no other host may open for reports meanwhile

// Device -> host, the answer to the open packet.
constexpr uint8_t kAcceptMagic[4] = {'Q', 'H', 'B', 'A'};
constexpr uint8_t kRefuseMagic[4] = {'Q', 'H', 'B', 'R'};
constexpr size_t kRefuseSize = 8;
constexpr size_t kIdentityHeaderSize = 28;

enum Refusal : uint16_t {
  kAccepted = 0,
  kBusy = 1,          // held exclusively by another host
  kBadVersion = 2,    // protocol version not spoken
  kMalformed = 3,     // the open packet was not understood
  kTooManyHosts = 4,  // the device has no room for another connection
};

// Strings are at most this many bytes (a USB string descriptor's limit).
constexpr size_t kMaxStringBytes = 126;
constexpr size_t kMaxDescriptorBytes = 4096;

}  // namespace q7msim::hidbus
