// The execution service on an emulated reader: q7m-sim runs as a process of
// its own with a serial reader on COM3 (and a USB reader on the test's
// virtual HID bus), the test works in a directory of its own whose PDLNK.INI
// points COM3 at the emulator's pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "q7m/sequor.h"
#include "q7m_test.h"
#include "sim_process.h"

namespace sequorsim {

using namespace std::chrono_literals;

constexpr uint32_t kLineSpeed = 38400;

class SimReader {
 public:
  // Starts q7m-sim with a serial reader for COM3 whose PDLNK.INI is in
  // `dir`, and waits until it is ready.
  bool Start(const std::string& dir, const std::vector<std::string>& extraArgs = {});
  // Runs "q7m-sim ctl <words>" against this emulator; its output.
  std::string Control(const std::vector<std::string>& words);
  // The command messages `reader` took, in order, as their printable text.
  std::vector<std::string> Commands(const std::string& reader) const;
  // Waits until the emulator's wire log holds `needle`.
  bool WaitForLog(const std::string& needle, std::chrono::milliseconds limit = 10s) const {
    return sim_.WaitForLog(needle, limit);
  }
  // The emulator process itself (its wire log lines, counters).
  const q7mtest::SimProcess& process() const { return sim_; }
  q7mtest::SimProcess& process() { return sim_; }

 private:
  q7mtest::SimProcess sim_;
};

// Opens COM3 at the emulator's speed; null with the last error on failure.
SEQUOR_HANDLE OpenSerial();

class SequorOnSim : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A synchronous exchange; the response as text.
  uint32_t Run(SEQUOR_HANDLE session, const std::string& command, std::string* response,
               uint32_t receiveSeconds = 5);
  // The stored response and result.
  uint32_t Stored(SEQUOR_HANDLE session, std::string* response);

  std::string dir_;
  SimReader sim_;
  SEQUOR_HANDLE session_ = nullptr;
};

}  // namespace sequorsim
