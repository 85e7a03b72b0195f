// The API library on an emulated reader: q7m-sim runs as a process of its
// own with a serial reader on COM3 ("r1") and a USB reader ("r2"); each test
// runs once on each link.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "q7m/rdax.h"
#include "sequor_sim_fixture.h"

namespace rdaxsim {

enum class Link { kSerial, kUsb };

// Opens the fixture's reader on `link` (serial at the emulator's speed, USB
// with the default open block); null with the last error on failure.
const RDAX* OpenReader(Link link);

class RdaxOnSim : public ::testing::TestWithParam<Link> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The emulator's name of the reader under test.
  const char* reader() const { return GetParam() == Link::kSerial ? "r1" : "r2"; }
  // RDAX_SendCommand of `command`; the response as text.
  uint32_t Send(const std::string& command, std::string* response = nullptr,
                Q7M_HANDLE event = nullptr);
  // Makes the reader take the next command and never answer it.
  void HoldNextCommand() { sim_.Control({"fault", reader(), "no-answer"}); }
  // Waits until the reader has received `command`.
  bool ReaderGot(const std::string& command) { return sim_.WaitForLog("|" + command + "|"); }

  std::string dir_;
  sequorsim::SimReader sim_;
  const RDAX* handle_ = nullptr;
  // Response of an asynchronous Send (valid until its event).
  char asyncResponse_[1024] = {};
  uint32_t asyncLength_ = 0;
};

std::string LinkName(const ::testing::TestParamInfo<Link>& info);

// The texts of a trace ring's records (RECORDLENGTH `recordText`), their
// padding taken off.
std::set<std::string> TraceTexts(const std::string& ring, size_t recordText);

}  // namespace rdaxsim
