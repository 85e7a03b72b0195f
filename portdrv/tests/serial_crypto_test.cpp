// The serial transport's encrypted forms while a session's crypto mode is
// on. No cryptographic provider is bound, so they answer 12 before anything
// reaches the line, while the end-of-transmission message stays plain.
#include <gtest/gtest.h>

#include <string>

#include "cls_com.h"
#include "pdlnk_result.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "sim_reader.h"

namespace {

class SerialCryptoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = q7mtest::EnterFreshWorkingDirectory();
    // Linked into the test program, the transport reads the program's INI.
    char base[256];
    ASSERT_GT(Q7M_GetModuleBaseName(nullptr, base, sizeof base), 0u);
    ASSERT_TRUE(sim_.Start(5, {"--pdlnk-ini", dir + "/" + base + ".INI"}));
    ASSERT_EQ(com_.Open("COM5", false), 0u);
    key_.cryptoMode = 1;
    key_.keyType = q7m::kKeyTypeDes;
  }
  void TearDown() override { sim_.Stop(); }

  std::string Send(const std::string& message, uint32_t expected) {
    EXPECT_EQ(com_.Send(reinterpret_cast<const uint8_t*>(message.data()),
                        static_cast<uint32_t>(message.size()), &key_, 5000),
              expected);
    return message;
  }

  q7mtest::SimReader sim_;
  q7m::clsCom com_{nullptr};
  q7m::SessionKeyRecord key_{};
};

TEST_F(SerialCryptoTest, CommandsNeedTheProviderAndNothingIsSent) {
  Send("C10", q7m::kPdNotSupported);
  // Too long once padded into cipher blocks, though it would fit plain.
  Send(std::string(2097, 'C'), q7m::kPdTooLong);
  EXPECT_EQ(sim_.Counter("CommandFrames"), 0);
  // Plain (no key record), the same command goes through.
  EXPECT_EQ(com_.Send(reinterpret_cast<const uint8_t*>("C10"), 3, nullptr, 5000), 0u);
  EXPECT_EQ(sim_.Counter("CommandFrames"), 1);
}

TEST_F(SerialCryptoTest, EndOfTransmissionIsSentPlainWhileTheModeIsOn) {
  Send("E", 0);
  uint8_t buffer[16];
  uint32_t received = 0;
  EXPECT_EQ(com_.Receive(buffer, sizeof buffer, &received, &key_, 5000), 0u);
  ASSERT_EQ(received, 1u);
  EXPECT_EQ(buffer[0], 'E');
  EXPECT_EQ(sim_.Counter("EotsReceived"), 1);
}

}  // namespace
