// One USB reader through the exports, against q7m-sim on the test
// process's virtual HID bus: the report layout of each message size, the
// length checks, malformed and raw input reports, removal, cancel and the
// time limit, and the device's identity.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "q7m/pdlnk.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "sim_reader.h"  // EnterFreshWorkingDirectory
#include "usb_sim.h"

namespace {

constexpr int kLimit = 5000;

class UsbLinkTest : public ::testing::Test {
 protected:
  void Open(const std::vector<std::string>& options = {}, int share = 1) {
    q7mtest::EnterFreshWorkingDirectory();
    ASSERT_TRUE(sim_.Start("r1", options));
    ASSERT_EQ(PDLNK_Open(&handle_, "USB:", share), PDLNK_SUCCESS);
  }
  void TearDown() override {
    if (handle_ >= 0) PDLNK_Close(handle_);
  }
  uint32_t Send(const std::string& message) {
    return PDLNK_Send(handle_, message.data(), static_cast<int>(message.size()), kLimit);
  }
  uint32_t Receive(std::string* response, int limit = kLimit, int size = 64) {
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '#');
    int received = -1;
    const uint32_t r = PDLNK_Receive(handle_, buffer.data(), size, &received, limit);
    response->assign(buffer.data(), received > 0 ? static_cast<size_t>(received) : 0);
    EXPECT_EQ(buffer[static_cast<size_t>(size)], '#') << "written beyond the caller's buffer";
    return r;
  }
  // The first bytes the reader received in each output report (wire log).
  std::vector<std::string> OutputReports() { return sim_.LogLines("r1", "RX"); }

  q7mtest::UsbSim sim_;
  int handle_ = -1;
};

TEST_F(UsbLinkTest, OneExchange) {
  Open();
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  std::string response;
  ASSERT_EQ(Receive(&response), PDLNK_SUCCESS);
  EXPECT_EQ(response, "P1000");
  // A short caller buffer gets the response cut, without an error.
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  ASSERT_EQ(Receive(&response, kLimit, 3), PDLNK_SUCCESS);
  EXPECT_EQ(response, "P10");
}

TEST_F(UsbLinkTest, ReportIdsFollowTheMessageSize) {
  Open();
  // The reader answers every message, the empty one too; each answer is
  // read before the next send so that the wire log holds every report once
  // the last answer is in.
  for (size_t size : {0, 1, 2, 369, 370}) {
    ASSERT_EQ(Send(std::string(size, 'C')), PDLNK_SUCCESS) << size;
    std::string response;
    EXPECT_EQ(Receive(&response), PDLNK_SUCCESS) << size;
    EXPECT_EQ(response.substr(0, 1), "N") << size;
  }
  const std::vector<std::string> rx = OutputReports();
  ASSERT_EQ(rx.size(), 5u);
  // Every report is written whole (2068 bytes) and zero-filled after the
  // message: [id][length, big-endian][message].
  EXPECT_EQ(rx[0], "01 +2067*00");  // the log folds the run of zeros
  EXPECT_EQ(rx[1], "01 00 01 43 +2064*00");
  EXPECT_EQ(rx[2], "02 00 02 43 43 +2063*00");
  EXPECT_EQ(rx[3].substr(0, 12), "08 01 71 43 ");  // 369 = 0x171
  EXPECT_EQ(rx[4].substr(0, 12), "09 01 72 43 ");  // 370 = 0x172
}

TEST_F(UsbLinkTest, TheLargestMessageIsTheOutputReportLessSix) {
  Open({"--set", "OutputReportLength=372"});
  PDLNK_DEVICE_INFO info;
  ASSERT_EQ(PDLNK_GetDeviceInfo(handle_, &info, sizeof info), PDLNK_SUCCESS);
  ASSERT_EQ(info.maxSendLength, 366u);
  EXPECT_EQ(Send(std::string(367, 'C')), PDLNK_MESSAGE_TOO_LONG);
  EXPECT_EQ(sim_.Counter("r1", "OutputReports"), 0);  // refused before anything is written
  EXPECT_EQ(Send(std::string(366, 'C')), PDLNK_SUCCESS);
  std::string response;
  EXPECT_EQ(Receive(&response), PDLNK_SUCCESS);
  const std::vector<std::string> rx = OutputReports();
  ASSERT_EQ(rx.size(), 1u);
  EXPECT_EQ(rx[0].substr(0, 12), "08 01 6E 43 ");
}

TEST_F(UsbLinkTest, ResponseLengthFieldsThatDoNotFitAreMalformed) {
  Open();
  std::string response;
  for (const char* fault : {"zero-length", "long-length"}) {
    sim_.Control(std::string("fault r1 ") + fault);
    ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
    EXPECT_EQ(Receive(&response), PDLNK_MALFORMED_RESPONSE) << fault;
    EXPECT_EQ(response, "") << fault << ": nothing is copied";
  }
  // The next answer is good again.
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  EXPECT_EQ(Receive(&response), PDLNK_SUCCESS);
  EXPECT_EQ(response, "P1000");
}

TEST_F(UsbLinkTest, ReportIdZeroIsPassedRaw) {
  Open();
  sim_.Control("fault r1 report-id-0");
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  std::string response;
  // Everything after the id byte, without length checks, cut to the buffer.
  ASSERT_EQ(Receive(&response, kLimit, 16), PDLNK_SUCCESS);
  EXPECT_EQ(response, std::string("P1000") + std::string(11, '\0'));
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  ASSERT_EQ(Receive(&response, kLimit, 4000), PDLNK_SUCCESS);
  EXPECT_EQ(response.size(), 5u);  // the ordinary form again
}

TEST_F(UsbLinkTest, UnplugDuringAReceiveAnswersRemoved) {
  Open();
  sim_.Control("fault r1 unplug-on-command");
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  std::string response;
  EXPECT_EQ(Receive(&response, 20000), PDLNK_DEVICE_REMOVED);
  EXPECT_EQ(PDLNK_Exists(handle_), PDLNK_DEVICE_REMOVED);
  EXPECT_EQ(Send("C10"), PDLNK_DEVICE_REMOVED);
  PDLNK_DEVICE_INFO info;
  EXPECT_EQ(PDLNK_GetDeviceInfo(handle_, &info, sizeof info), PDLNK_DEVICE_REMOVED);
  // Plugged in again, the old handle stays dead; a new open works.
  sim_.Control("fault r1 replug");
  EXPECT_EQ(PDLNK_Exists(handle_), PDLNK_DEVICE_REMOVED);
  int again = -1;
  ASSERT_EQ(PDLNK_Open(&again, "USB:", 1), PDLNK_SUCCESS);
  EXPECT_EQ(PDLNK_Exists(again), PDLNK_SUCCESS);
  PDLNK_Close(again);
}

TEST_F(UsbLinkTest, UnplugWhileWaitingWakesTheReceive) {
  Open();
  sim_.Control("fault r1 no-answer");
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  // The unplug comes while this thread waits.
  std::thread later([&] {
    Q7M_Sleep(200);
    sim_.Control("fault r1 unplug");
  });
  std::string response;
  EXPECT_EQ(Receive(&response, 20000), PDLNK_DEVICE_REMOVED);
  later.join();
}

TEST_F(UsbLinkTest, CancelAndTimeLimit) {
  Open();
  ASSERT_EQ(PDLNK_CancelIO(handle_), PDLNK_SUCCESS);
  EXPECT_EQ(Send("C10"), PDLNK_CANCELLED);
  std::string response;
  EXPECT_EQ(Receive(&response), PDLNK_CANCELLED);
  EXPECT_EQ(sim_.Counter("r1", "OutputReports"), 0);  // nothing was written
  ASSERT_EQ(PDLNK_ResetIO(handle_), PDLNK_SUCCESS);

  // No answer within the limit: 2; the late answer is not lost. (The answer
  // is far later than the limit, so a slow start of the receive still ends
  // by the limit.)
  sim_.Control("fault r1 late ms=3000");
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  EXPECT_EQ(Receive(&response, 50), PDLNK_TIMEOUT);
  EXPECT_EQ(Receive(&response, 20000), PDLNK_SUCCESS);
  EXPECT_EQ(response, "P1000");

  // An answer that is there when the limit runs out is delivered.
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  // The emulator counts an input report before it sends it; it sends it
  // before it takes the next control command.
  ASSERT_EQ(sim_.AwaitCounter("r1", "InputReports", 2), 2);
  EXPECT_EQ(Receive(&response, 0), PDLNK_SUCCESS);
  EXPECT_EQ(response, "P1000");

  // A cancel from another thread ends a waiting receive.
  sim_.Control("fault r1 no-answer");
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  std::thread canceller([&] {
    Q7M_Sleep(100);
    PDLNK_CancelIO(handle_);
  });
  EXPECT_EQ(Receive(&response, 20000), PDLNK_CANCELLED);
  canceller.join();
  PDLNK_ResetIO(handle_);
}

TEST_F(UsbLinkTest, DeviceInformation) {
  Open({"--set", "VendorId=0x04A4", "--set", "ProductId=83", "--set", "VersionNumber=0x0213",
        "--set", "UsbSerial=SN-0042", "--set", "Manufacturer=Maker", "--set",
        "Product=Motorised reader", "--set", "InputReportLength=372"});
  PDLNK_DEVICE_INFO info;
  EXPECT_EQ(PDLNK_GetDeviceInfo(handle_, &info, 36), PDLNK_WRONG_RECORD_SIZE);
  ASSERT_EQ(PDLNK_GetDeviceInfo(handle_, &info, sizeof info), PDLNK_SUCCESS);
  EXPECT_EQ(std::string(info.devicePath), sim_.PathOf("r1"));
  EXPECT_STREQ(info.manufacturer, "Maker");
  EXPECT_STREQ(info.product, "Motorised reader");
  EXPECT_STREQ(info.serialNumber, "SN-0042");
  EXPECT_EQ(info.vendorId, 0x04A4);
  EXPECT_EQ(info.productId, 83);
  EXPECT_EQ(info.versionNumber, 0x0213);
  EXPECT_EQ(info.maxSendLength, 2062u);
  EXPECT_EQ(info.maxReceiveLength, 366u);
  EXPECT_EQ(PDLNK_Exists(handle_), PDLNK_SUCCESS);
}

TEST_F(UsbLinkTest, AnExclusiveOpenKeepsOthersOut) {
  Open({}, 0);
  int other = -1;
  // Held alone, it refuses even the search's identity queries: after its
  // 20 attempts the search passes it over and finds no reader.
  EXPECT_EQ(PDLNK_Open(&other, "USB:Q7MSIM-r1", 1), PDLNK_DEVICE_NOT_FOUND);
  EXPECT_EQ(other, -1);
  EXPECT_EQ(sim_.Counter("r1", "OpensRefused"), 20);
  ASSERT_EQ(Send("C10"), PDLNK_SUCCESS);
  std::string response;
  EXPECT_EQ(Receive(&response), PDLNK_SUCCESS);
}

}  // namespace
