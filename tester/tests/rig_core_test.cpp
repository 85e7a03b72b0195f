// RigTool's buttons, Call and Report and the list runs, against a stand-in
// for the API library that answers as each test tells it.
#include <gtest/gtest.h>

#include <algorithm>

#include "api_list.h"
#include "fake_rdax.h"
#include "fake_ui.h"
#include "q7m_test.h"
#include "rig_core.h"

namespace {

using namespace rigtooltest;

const void* const kHandle = reinterpret_cast<const void*>(0x1234);

const std::string kZeroStatus =
    "\t\t: Device status\t\t= 0\r\n\t\t: Media status\t\t= 0\r\n\t\t: BIN status\t\t= 0\r\n"
    "\t\t: CIM86/MM status\t= 0\r\n\t\t: Captured cards\t\t= 0\r\n\t\t: Chip status\t\t= 0\r\n"
    "\t\t: <Extra> Battery status\t= 0\r\n\t\t: <Extra> SAM chip\t\t= 0\r\n\r\n";

size_t CallsOf(const std::string& name) {
  return static_cast<size_t>(std::count_if(fakerdax::calls.begin(), fakerdax::calls.end(),
                                           [&](const auto& c) { return c.name == name; }));
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class Core : public ::testing::Test {
 protected:
  void SetUp() override {
    fakerdax::Reset();
    core_.log().timeStamps = false;
  }
  void Open() {
    fakerdax::openHandle = kHandle;
    ASSERT_TRUE(core_.OpenDevice("COM3", "38400"));
    core_.log().Clear();
    fakerdax::calls.clear();
  }
  void Run(int api, Params params = {}) {
    ASSERT_TRUE(core_.Execute(api, params));
    core_.WaitForWorker();
  }
  FakeUi ui_;
  RigCore core_{ui_};
};

TEST_F(Core, ExecuteWithoutAReaderLogsTheNameAloneAndTheRecordsItHolds) {
  EXPECT_FALSE(core_.Execute(-1, {})) << "no API chosen: nothing at all";
  EXPECT_EQ(core_.log().Text(), "");
  Run(kGetStatus, {"ignored", "", "", ""});
  EXPECT_EQ(
      core_.log().Text(),
      "Command  \t: GetStatus\r\nResult\t\t: The device is not opened!\r\n\r\n" + kZeroStatus);
  EXPECT_EQ(core_.LastRunEnd(), RunEnd::kCallFailed);
  EXPECT_TRUE(fakerdax::calls.empty());
}

TEST_F(Core, OpenDevicePassesTheSerialNumberAsTypedOrTheBaudRateInTheSettings) {
  fakerdax::openHandle = kHandle;
  ASSERT_TRUE(core_.OpenDevice("USB", ""));
  EXPECT_EQ(fakerdax::openName, "") << "an empty field passes an empty text";
  EXPECT_TRUE(fakerdax::openSettings.empty()) << "and no settings";
  EXPECT_EQ(core_.log().Text(),
            "Command  \t: OpenDevice\r\nParameter 1\t: NULL\r\nResult\t\t: lpcRdax = 00001234\r\n"
            "\r\n");
  ASSERT_TRUE(core_.OpenDevice("COM2", "0x2580"));
  EXPECT_EQ(fakerdax::openName, "COM2");
  ASSERT_EQ(fakerdax::openSettings.size(), 7u);
  EXPECT_EQ(fakerdax::openSettings[1], 9600u);
  EXPECT_EQ(fakerdax::openSettings[0], 0u);
  EXPECT_EQ(CallsOf("RDAX_CloseDevice"), 1u) << "the reader opened before is closed, not leaked";
}

TEST_F(Core, AFailedOpenShowsTheSystemTextAndLogsTheCode) {
  fakerdax::openError = 2;
  EXPECT_FALSE(core_.OpenDevice("COM7", ""));
  EXPECT_FALSE(core_.IsOpen());
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].rfind("Error: ", 0), 0u);
  EXPECT_TRUE(EndsWith(core_.log().Text(), "Result\t\t: 0x00000002\r\n\r\n"));
}

TEST_F(Core, ACloseDeviceThatFailsKeepsTheHandleForTheNextCall) {
  Open();
  fakerdax::answers["RDAX_CloseDevice"] = 0x82000000u;
  core_.CloseDevice();
  EXPECT_TRUE(core_.IsOpen());
  EXPECT_EQ(core_.log().Text(), "Command  \t: CloseDevice\r\nResult\t\t: 0x82000000\r\n\r\n");
  Run(7);
  EXPECT_EQ(fakerdax::last.name, "RDAX_Lock");
  EXPECT_EQ(fakerdax::last.args[0], reinterpret_cast<uintptr_t>(kHandle));
  fakerdax::answers.clear();
  core_.CloseDevice();
  EXPECT_FALSE(core_.IsOpen());
  core_.log().Clear();
  fakerdax::calls.clear();
  core_.GetResult();
  core_.Cancel();
  EXPECT_TRUE(fakerdax::calls.empty()) << "no reader: no call";
  EXPECT_EQ(core_.log().Text(),
            "Command  \t: GetResult\r\nResult\t\t: The device is not opened!\r\n\r\n"
            "Command  \t: Cancel\r\nResult\t\t: The device is not opened!\r\n\r\n");
}

TEST_F(Core, AnAcceptedAsynchronousCallIsAwaitedBeforeItsDetailLines) {
  Open();
  fakerdax::answer = RDAX_I_ASYNC_STARTED;
  fakerdax::complete = true;
  Run(kGetStatus);
  EXPECT_EQ(core_.LastRunEnd(), RunEnd::kReported);
  EXPECT_EQ(core_.log().Text(),
            "Command  \t: GetStatus\r\nResult\t\t: 0x00000001\r\n\r\n" + kZeroStatus);
  EXPECT_NE(fakerdax::last.args.back(), 0u) << "the dialog's event";
  core_.asynchronous = false;
  Run(kGetStatus);
  EXPECT_EQ(fakerdax::last.args.back(), 0u) << "synchronous: no event, no wait";
  EXPECT_EQ(core_.LastRunEnd(), RunEnd::kReported);
}

TEST_F(Core, AnAsynchronousWaitWithoutTheEventEndsTheRunWithoutDetailLines) {
  Open();
  fakerdax::answer = RDAX_I_ASYNC_STARTED;
  core_.asyncWaitMilliseconds = 1;  // the event never comes
  core_.Set(kGetStatus, {});
  core_.Set(7, {});
  ASSERT_TRUE(core_.RunAll());
  core_.WaitForWorker();
  EXPECT_EQ(core_.LastRunEnd(), RunEnd::kWaitFailed);
  EXPECT_EQ(core_.log().Text().find("Device status"), std::string::npos);
  EXPECT_EQ(CallsOf("RDAX_Lock"), 0u) << "the run ended at the failed wait";
}

TEST_F(Core, ErrorStopEndsTheRunAfterTheSecondFailingCall) {
  Open();
  fakerdax::answer = 0x84000000u;
  core_.errorStop = 2;
  core_.loops = 5;
  core_.Set(7, {});
  core_.Set(8, {});
  core_.Set(2, {});
  core_.list().Select(1, true);
  ASSERT_TRUE(core_.RunAll());
  core_.WaitForWorker();
  EXPECT_EQ(core_.LastRunEnd(), RunEnd::kErrorStopped);
  EXPECT_EQ(fakerdax::calls.size(), 2u);
  EXPECT_TRUE(EndsWith(core_.log().Text(),
                       "Command  \t: Unlock\r\nResult\t\t: 0x84000000\r\n\r\n"
                       "Loop operation stopped! Errors: 2\r\n\r\n"));
  EXPECT_EQ(core_.log().Text().rfind("No. of Runs\t: 5\r\nError Stop\t: 2\r\n"
                                     "Operation\t: Asynchronous\r\n\r\nRun: 1/5\r\n\r\n",
                                     0),
            0u);
  EXPECT_FALSE(core_.list().Row(1)->selected) << "the end of a run clears the selection";
}

TEST_F(Core, ActivateContactlessShowsItsCardsOnlyWhenGetResultAnswersZero) {
  Open();
  fakerdax::answers["RDAX_GetResult"] = RDAX_E_BUSY;
  Run(kActivateContactless, {"6", "5", "", ""});
  EXPECT_TRUE(EndsWith(core_.log().Text(), "Parameter 2\t: 5\r\nResult\t\t: 0x00000000\r\n\r\n"));
  fakerdax::answers.clear();
  core_.log().Clear();
  Run(kActivateContactless, {"6", "5", "", ""});
  EXPECT_TRUE(EndsWith(core_.log().Text(), "Result\t\t: 0x00000000\r\n\r\n\r\n"))
      << "no card found: an empty entry";
}

TEST_F(Core, ARunningListRefusesAnotherRunAndExecuteUntilStopped) {
  Open();
  fakerdax::answer = RDAX_I_ASYNC_STARTED;
  fakerdax::complete = true;
  core_.log().enabled = false;
  core_.loops = 2147483647;
  core_.Set(7, {});
  ASSERT_TRUE(core_.RunAll());
  EXPECT_FALSE(core_.RunAll());
  EXPECT_FALSE(core_.RunSelected());
  EXPECT_FALSE(core_.Execute(7, {}));
  EXPECT_EQ(ui_.messages,
            (std::vector<std::string>{
                "Warning: Already running!", "Warning: Already running!",
                "Warning: Cannot continue! Currently running items from Command List"}));
  core_.Stop();
  core_.WaitForWorker();
  EXPECT_GE(CallsOf("RDAX_Cancel"), 1u) << "Stop cancels the call under way";
  EXPECT_TRUE(core_.LastRunEnd() == RunEnd::kStopped || core_.LastRunEnd() == RunEnd::kListDone);
  EXPECT_TRUE(core_.Execute(7, {})) << "idle again";
  core_.WaitForWorker();
  EXPECT_EQ(ui_.workerEnds.load(), 2) << "the front end hears of each worker's end";
}

TEST_F(Core, ClosingTheWindowClosesTheReaderSilentlyAndAppendsTheLog) {
  Open();
  const std::string file = q7mtest::MakeTempDir("core") + "/exit.log";
  core_.log().SetFileName(file);
  Run(7);
  const std::string text = core_.log().Text();
  core_.Shutdown();
  EXPECT_EQ(CallsOf("RDAX_CloseDevice"), 1u);
  EXPECT_FALSE(core_.IsOpen());
  EXPECT_EQ(core_.log().Text(), text) << "no log entry for the close";
  EXPECT_EQ(q7mtest::ReadFile(file), text);
}

TEST_F(Core, ClosingTheWindowDuringARunStopsItInsteadOfWaitingForItsEnd) {
  Open();
  fakerdax::answer = RDAX_I_ASYNC_STARTED;
  fakerdax::complete = true;
  core_.log().enabled = false;
  core_.log().appendOnExit = false;
  fakerdax::answers["RDAX_CloseDevice"] = RDAX_OK;
  core_.loops = 2147483647;
  core_.Set(7, {});
  ASSERT_TRUE(core_.RunAll());
  core_.Shutdown();  // returns: the run was stopped, not run out
  EXPECT_GE(CallsOf("RDAX_Cancel"), 1u);
  EXPECT_FALSE(core_.IsOpen());
}

}  // namespace
