#include "report_descriptor.h"

#include <algorithm>

namespace q7m::hid {

namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };
enum MainTag : uint8_t {
  kInput = 0x8,
  kOutput = 0x9,
  kCollection = 0xA,
  kFeature = 0xB,
  kEndCollection = 0xC
};
enum GlobalTag : uint8_t {
  kUsagePage = 0x0,
  kReportSize = 0x7,
  kReportId = 0x8,
  kReportCount = 0x9,
  kPush = 0xA,
  kPop = 0xB
};
enum LocalTag : uint8_t { kUsage = 0x0 };
constexpr uint8_t kLongItemPrefix = 0xFE;

// Pushes nest rarely; real descriptors use one or two levels.
constexpr int kGlobalStackDepth = 8;
// The longest report a 16-bit length (with its id byte) describes.
constexpr uint64_t kMaxReportBits = (0xFFFFull - 1) * 8;

struct GlobalState {
  uint32_t usagePage = 0;
  uint32_t reportSize = 0;
  uint32_t reportCount = 0;
  uint32_t reportId = 0;
};

enum Direction { kIn = 0, kOut = 1, kFeat = 2, kDirections = 3 };

uint32_t ItemValue(const uint8_t* data, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(data[i]) << (8 * i);
  return value;
}

uint16_t LengthOf(const uint64_t* bits) {
  const uint64_t most = *std::max_element(bits, bits + 256);
  if (most == 0) return 0;
  return static_cast<uint16_t>((most + 7) / 8 + 1);
}

}  // namespace

DescriptorError ParseReportDescriptor(const uint8_t* data, size_t size, ReportLayout* layout) {
  // Bits of every report, by direction and report id (id 0: unnumbered).
  uint64_t bits[kDirections][256] = {};
  GlobalState global;
  GlobalState stack[kGlobalStackDepth];
  int stackDepth = 0;
  int collectionDepth = 0;
  bool topLevelSeen = false;
  bool usageSeen = false;
  uint32_t firstUsage = 0;
  uint32_t firstUsageSize = 0;
  ReportLayout result;

  size_t pos = 0;
  while (pos < size) {
    const uint8_t prefix = data[pos];
    if (prefix == kLongItemPrefix) {
      // Long items carry vendor data only; their length is in the next byte.
      if (size - pos < 3) return DescriptorError::kTruncated;
      const size_t length = 3 + static_cast<size_t>(data[pos + 1]);
      if (size - pos < length) return DescriptorError::kTruncated;
      pos += length;
      continue;
    }
    const size_t dataSize = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
    if (size - pos - 1 < dataSize) return DescriptorError::kTruncated;
    const uint8_t type = (prefix >> 2) & 0x3;
    const uint8_t tag = prefix >> 4;
    const uint32_t value = ItemValue(data + pos + 1, dataSize);
    pos += 1 + dataSize;

    if (type == kGlobal) {
      switch (tag) {
        case kUsagePage:
          global.usagePage = value;
          break;
        case kReportSize:
          global.reportSize = value;
          break;
        case kReportCount:
          global.reportCount = value;
          break;
        case kReportId:
          if (value == 0 || value > 255) return DescriptorError::kBadReportId;
          global.reportId = value;
          result.numbered = true;
          break;
        case kPush:
          if (stackDepth == kGlobalStackDepth) return DescriptorError::kStackOverflow;
          stack[stackDepth++] = global;
          break;
        case kPop:
          if (stackDepth == 0) return DescriptorError::kStackUnderflow;
          global = stack[--stackDepth];
          break;
        default:
          break;  // logical and physical ranges, units: no bearing on sizes
      }
    } else if (type == kLocal) {
      if (tag == kUsage && !usageSeen) {
        usageSeen = true;
        firstUsage = value;
        firstUsageSize = static_cast<uint32_t>(dataSize);
      }
    } else if (type == kMain) {
      Direction direction = kDirections;
      switch (tag) {
        case kInput:
          direction = kIn;
          break;
        case kOutput:
          direction = kOut;
          break;
        case kFeature:
          direction = kFeat;
          break;
        case kCollection:
          if (collectionDepth == 0 && !topLevelSeen) {
            topLevelSeen = true;
            // A four-byte usage carries its own page in the upper half.
            result.usagePage =
                static_cast<uint16_t>(firstUsageSize == 4 ? firstUsage >> 16 : global.usagePage);
            result.usage = static_cast<uint16_t>(firstUsage);
          }
          ++collectionDepth;
          break;
        case kEndCollection:
          if (collectionDepth == 0) return DescriptorError::kUnbalanced;
          --collectionDepth;
          break;
        default:
          break;
      }
      if (direction != kDirections) {
        uint64_t& total = bits[direction][global.reportId];
        total += static_cast<uint64_t>(global.reportSize) * global.reportCount;
        if (total > kMaxReportBits) return DescriptorError::kReportTooLong;
      }
      // Local items describe the next main item only.
      usageSeen = false;
    }
  }
  if (collectionDepth != 0) return DescriptorError::kUnbalanced;

  result.inputLength = LengthOf(bits[kIn]);
  result.outputLength = LengthOf(bits[kOut]);
  result.featureLength = LengthOf(bits[kFeat]);
  *layout = result;
  return DescriptorError::kNone;
}

}  // namespace q7m::hid
