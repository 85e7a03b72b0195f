// The API library on an emulated reader: q7m-sim runs as a process of its
// own with a serial reader on COM3 ("r1") and a USB reader ("r2"); each test
// runs once on each link.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "q7m/rdax.h"
#include "sequor_sim_fixture.h"

namespace rdaxsim {

enum class Link { kSerial, kUsb };

// A completion event for asynchronous calls.
class Event {
 public:
  Event() : handle_(Q7M_CreateEvent(1, 0, nullptr)) {}
  ~Event() { Q7M_CloseHandle(handle_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  Q7M_HANDLE get() const { return handle_; }
  bool Wait() const { return Q7M_WaitForSingleObject(handle_, 30000) == Q7M_WAIT_OBJECT_0; }
  bool Signalled() const { return Q7M_WaitForSingleObject(handle_, 0) == Q7M_WAIT_OBJECT_0; }

 private:
  Q7M_HANDLE handle_;
};

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
  // The commands the reader took since the test began, in order.
  std::vector<std::string> Commands() const { return sim_.Commands(reader()); }
  // The last command the reader took ("" when none).
  std::string LastCommand() const {
    const std::vector<std::string> all = Commands();
    return all.empty() ? std::string() : all.back();
  }

  std::string dir_;
  sequorsim::SimReader sim_;
  const RDAX* handle_ = nullptr;
  // Response of an asynchronous Send (valid until its event).
  char asyncResponse_[1024] = {};
  uint32_t asyncLength_ = 0;
};

// Bytes as the hexadecimal digits the emulator's "reply data=" takes.
std::string Hex(const std::string& bytes);

std::string LinkName(const ::testing::TestParamInfo<Link>& info);

// The texts of a trace ring's records (RECORDLENGTH `recordText`), their
// padding taken off.
std::set<std::string> TraceTexts(const std::string& ring, size_t recordText);

// Traces the API library at every level into `dir`/trace.log, through a
// SCRIBEL.INI written in `dir` (the current directory of the traced process).
void WriteFullTraceIni(const std::string& dir);
// The texts of the ring WriteFullTraceIni set up.
std::set<std::string> FullTraceTexts(const std::string& dir);

}  // namespace rdaxsim
