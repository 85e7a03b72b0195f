// A session of the service opened on the scripted port driver, with the
// test's own view of the device's SharedData block.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device_key.h"
#include "device_session.h"
#include "fake_port_driver.h"
#include "q7m/sequor.h"
#include "shared_block_view.h"

namespace sequortest {

class ScriptedSession : public ::testing::Test {
 protected:
  // Replaces the port driver's script and opens a session on it.
  void Open(const fakepd::Script& script = fakepd::Script()) {
    if (handle_ != nullptr) {
      ASSERT_EQ(SEQUOR_Close(handle_), SEQUOR_SUCCESS);
      handle_ = nullptr;
    }
    block_.reset();
    fakepd::Reset(script);
    const SEQUOR_OPEN_PARAMS params{0, 38400};
    handle_ = SEQUOR_Open("COM1", &params);
    ASSERT_NE(handle_, nullptr) << "last error " << Q7M_GetLastError();
    char key[q7m::kDeviceKeyCapacity + 1];
    q7m::DeriveDeviceKey(script.devicePath.c_str(), key);
    block_ = std::make_unique<SharedBlockView>(key);
    ASSERT_TRUE(block_->valid());
  }
  void SetUp() override { Open(); }
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(SEQUOR_Close(handle_), SEQUOR_SUCCESS);
    }
    block_.reset();
  }

  // A synchronous exchange with a large response buffer.
  uint32_t Run(const std::string& command, std::string* response = nullptr,
               uint32_t receiveSeconds = 3) {
    std::string buffer(4096, '\0');
    uint32_t length = 0xFFFFFFFFu;
    const uint32_t r = SEQUOR_Execute(
        handle_, command.data(), static_cast<uint32_t>(command.size()), 2, buffer.data(),
        static_cast<uint32_t>(buffer.size()), &length, receiveSeconds, nullptr);
    if (response != nullptr) *response = buffer.substr(0, length <= buffer.size() ? length : 0);
    return r;
  }

  // The stored response and result through the export.
  uint32_t StoredResult(std::string* response = nullptr) {
    char buffer[4096];
    uint32_t length = 0, result = 0xFFFFFFFFu;
    EXPECT_EQ(SEQUOR_GetResult(handle_, buffer, sizeof buffer, &length, &result), SEQUOR_SUCCESS);
    if (response != nullptr) response->assign(buffer, length);
    return result;
  }

  q7m::MemObject& memory() { return *reinterpret_cast<q7m::DeviceSession*>(handle_)->memory; }

  SEQUOR_HANDLE handle_ = nullptr;
  std::unique_ptr<SharedBlockView> block_;
};

inline fakepd::Receive Frame(const std::string& bytes) {
  fakepd::Receive r;
  r.frame = bytes;
  return r;
}

inline fakepd::Receive Failure(uint32_t code, uint32_t lastError = 0) {
  fakepd::Receive r;
  r.code = code;
  r.lastError = lastError;
  return r;
}

}  // namespace sequortest
