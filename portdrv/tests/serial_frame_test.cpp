#include <gtest/gtest.h>

#include <vector>

#include "serial_frame.h"

namespace q7m::serial {
namespace {

std::vector<uint8_t> Frame(const std::vector<uint8_t>& message) {
  std::vector<uint8_t> frame(MaxFrameLength(message.size()));
  frame.resize(BuildFrame(message.data(), message.size(), frame.data(), frame.size()));
  return frame;
}

TEST(SerialFrame, DleInTheDataIsDoubledAndCountedOnceInTheBcc) {
  const std::vector<uint8_t> message{'C', 0x10, 'A'};
  const uint8_t bcc = 'C' ^ 0x10 ^ 'A' ^ kEtx;
  EXPECT_EQ(Frame(message),
            (std::vector<uint8_t>{kDle, kStx, 'C', 0x10, 0x10, 'A', kDle, kEtx, bcc}));
}

TEST(SerialFrame, EmptyMessageAndAllDleMessage) {
  EXPECT_EQ(Frame({}), (std::vector<uint8_t>{kDle, kStx, kDle, kEtx, kEtx}));
  // Every byte doubled: the frame reaches its largest size exactly.
  const std::vector<uint8_t> dles(5, kDle);
  EXPECT_EQ(Frame(dles).size(), MaxFrameLength(dles.size()));
  EXPECT_EQ(Frame(dles).back(), static_cast<uint8_t>(kDle ^ kEtx));  // odd count of DLE
}

TEST(SerialFrame, RefusesAFrameThatDoesNotFit) {
  const uint8_t message[3] = {0x10, 0x10, 'x'};
  uint8_t frame[9];
  // 2 + 5 + 2 + 1 = 10 bytes needed.
  EXPECT_EQ(BuildFrame(message, sizeof message, frame, sizeof frame), 0u);
  uint8_t exact[10];
  EXPECT_EQ(BuildFrame(message, sizeof message, exact, sizeof exact), 10u);
}

}  // namespace
}  // namespace q7m::serial
