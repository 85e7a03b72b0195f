// The serial transport through the exports, against q7m-sim on a
// pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "port_rate.h"
#include "q7m/pdlnk.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "sim_reader.h"

namespace {

using q7mtest::SimReader;

constexpr int kLimitMs = 5000;

class SerialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { q7mtest::EnterFreshWorkingDirectory(); }
  void TearDown() override {
    if (handle_ >= 0) PDLNK_Close(handle_);
    sim_.Stop();
  }

  // PDLNK.INI for COM2 (q7m-sim adds the DevicePath), then the reader.
  bool StartReader(const std::string& iniKeys, const std::vector<std::string>& simOptions = {}) {
    q7mtest::WriteFile("PDLNK.INI", "[COM2]\nCharInvervalTimeout=200\n" + iniKeys);
    return sim_.Start(2, simOptions);
  }
  bool Open(const char* name = "COM2") { return PDLNK_Open(&handle_, name, 1) == PDLNK_SUCCESS; }

  // One command and its response; the response text, or "" on failure.
  std::string Exchange(const std::string& command, uint32_t* result = nullptr) {
    uint32_t r = PDLNK_Send(handle_, command.data(), static_cast<int>(command.size()), kLimitMs);
    if (r == PDLNK_SUCCESS) {
      char buffer[1100];
      int received = -1;
      r = PDLNK_Receive(handle_, buffer, sizeof buffer, &received, kLimitMs);
      if (r == PDLNK_SUCCESS) {
        if (result) *result = r;
        return std::string(buffer, static_cast<size_t>(received));
      }
    }
    if (result) *result = r;
    return "";
  }

  // A Receive left waiting on its own thread (the reader was told not to
  // answer); the test ends it and reads its result after joining.
  std::thread StartWaitingReceive() {
    return std::thread([this] {
      char buffer[64];
      int received = 0;
      receiveResult_ = PDLNK_Receive(handle_, buffer, sizeof buffer, &received, 60000);
    });
  }

  SimReader sim_;
  int handle_ = -1;
  uint32_t receiveResult_ = 0;
};

TEST_F(SerialLinkTest, CommandWithDleIsAcceptedAndAnswered) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open());
  // The reader checks the BCC: a doubled DLE counted twice would make it NAK.
  const std::string response = Exchange(std::string("C10\x10\x10x", 6));
  ASSERT_FALSE(response.empty());
  EXPECT_EQ(response.substr(1, 2), "10");
  EXPECT_EQ(sim_.Counter("DamagedFrames"), 0);
  EXPECT_EQ(sim_.Counter("NaksSent"), 0);
  EXPECT_EQ(sim_.Counter("CommandFrames"), 1);
}

TEST_F(SerialLinkTest, NakTwiceThenAckSendsTheFrameThreeTimes) {
  ASSERT_TRUE(StartReader("", {"--fault", "nak count=2"}));
  ASSERT_TRUE(Open());
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
  EXPECT_EQ(sim_.Counter("CommandFrames"), 3);
  EXPECT_EQ(sim_.Counter("NaksSent"), 2);
  EXPECT_EQ(sim_.Counter("AcksSent"), 1);
}

TEST_F(SerialLinkTest, WrongBccIsAskedForAgainAtOnceAndTheRepeatDelivered) {
  // An ENQ interval far beyond the time limit: only the immediate request
  // after the faulty frame can bring the response in time.
  ASSERT_TRUE(StartReader("SendENQInvervalTime=60000\n", {"--fault", "bad-bcc count=1"}));
  ASSERT_TRUE(Open());
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
  EXPECT_EQ(sim_.Counter("EnqsReceived"), 2);
  EXPECT_EQ(sim_.Counter("ResponseFrames"), 2);
}

TEST_F(SerialLinkTest, OverlongResponseIsDroppedAndAskedForAgain) {
  ASSERT_TRUE(StartReader("SendENQInvervalTime=60000\n", {"--fault", "oversize count=1"}));
  ASSERT_TRUE(Open());
  uint32_t r = 0;
  const std::string response = Exchange("C10", &r);
  EXPECT_EQ(r, 0u);
  EXPECT_EQ(response.substr(0, 3), "P10");
  EXPECT_LE(response.size(), 1050u);
  EXPECT_EQ(sim_.Counter("EnqsReceived"), 2);
}

TEST_F(SerialLinkTest, UnansweredRequestIsRepeatedEveryEnqInterval) {
  ASSERT_TRUE(StartReader("SendENQInvervalTime=100\n", {"--fault", "no-answer count=1"}));
  ASSERT_TRUE(Open());
  ASSERT_EQ(PDLNK_Send(handle_, "C10", 3, kLimitMs), PDLNK_SUCCESS);
  std::thread receiver = StartWaitingReceive();
  // Only the waiting Receive sends the requests after the first.
  EXPECT_TRUE(sim_.WaitForCounter("EnqsReceived", 3));
  EXPECT_EQ(PDLNK_CancelIO(handle_), PDLNK_SUCCESS);
  receiver.join();
  EXPECT_EQ(receiveResult_, PDLNK_CANCELLED);
}

TEST_F(SerialLinkTest, LateResponseWithoutRepeatedRequests) {
  // All ones is "no interval": the one request of the Send must do, and
  // the late answer to it is delivered. Taken as 0 it would flood the line
  // with requests.
  ASSERT_TRUE(StartReader("SendENQInvervalTime=0xFFFFFFFF\n", {"--fault", "late ms=300"}));
  ASSERT_TRUE(Open());
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
  EXPECT_EQ(sim_.Counter("EnqsReceived"), 1);
}

TEST_F(SerialLinkTest, EndOfTransmissionTravelsAsDleEotAndComesBackAsE) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open());
  EXPECT_EQ(Exchange("E"), "E");
  EXPECT_EQ(sim_.Counter("EotsReceived"), 1);
  EXPECT_EQ(sim_.Counter("CommandFrames"), 0);
  // The link is usable afterwards.
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
}

TEST_F(SerialLinkTest, ReceiveWithNoExchangeRunningAnswersTimeout) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open());
  char buffer[16];
  int received = -1;
  EXPECT_EQ(PDLNK_Receive(handle_, buffer, sizeof buffer, &received, 1), PDLNK_TIMEOUT);
  EXPECT_EQ(received, 0);
  EXPECT_EQ(PDLNK_Receive(handle_, buffer, sizeof buffer, &received, 300), PDLNK_TIMEOUT);
  // A completed exchange leaves nothing behind for the next drain.
  EXPECT_FALSE(Exchange("C10").empty());
  EXPECT_EQ(PDLNK_Receive(handle_, buffer, sizeof buffer, &received, 1), PDLNK_TIMEOUT);
}

TEST_F(SerialLinkTest, ResponseLongerThanTheBufferIsCut) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open());
  ASSERT_EQ(PDLNK_Send(handle_, "CV0", 3, kLimitMs), PDLNK_SUCCESS);
  char buffer[4] = {0, 0, 0, 'z'};
  int received = -1;
  ASSERT_EQ(PDLNK_Receive(handle_, buffer, 3, &received, kLimitMs), PDLNK_SUCCESS);
  EXPECT_EQ(received, 3);
  EXPECT_EQ(std::string(buffer, 3), "PV0");
  EXPECT_EQ(buffer[3], 'z');
}

TEST_F(SerialLinkTest, MessageTooLongForTheLine) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open());
  const std::string largest(2097, 'C');
  const std::string tooLong(2098, 'C');
  EXPECT_EQ(PDLNK_Send(handle_, tooLong.data(), static_cast<int>(tooLong.size()), kLimitMs),
            PDLNK_MESSAGE_TOO_LONG);
  EXPECT_EQ(sim_.Counter("CommandFrames"), 0);
  EXPECT_EQ(PDLNK_Send(handle_, largest.data(), static_cast<int>(largest.size()), kLimitMs),
            PDLNK_SUCCESS);
}

// The descriptor this process holds on `path`, or -1.
int HeldDescriptor(const std::string& path) {
  char wanted[PATH_MAX];
  if (::realpath(path.c_str(), wanted) == nullptr) return -1;
  for (int fd = 0; fd < 1024; ++fd) {
    char link[PATH_MAX];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(proc.c_str(), link, sizeof link - 1);
    if (n <= 0) continue;
    link[n] = '\0';
    if (std::strcmp(link, wanted) == 0) return fd;
  }
  return -1;
}

// The line speed the host set, as the pseudo-terminal shows it. While the
// driver holds the port in exclusive mode, a second open is refused to an
// unprivileged process, so the driver's own descriptor is asked then.
speed_t HostSpeed(const std::string& pty) {
  termios t{};
  if (const int held = HeldDescriptor(pty); held >= 0) {
    EXPECT_EQ(tcgetattr(held, &t), 0);
    return cfgetospeed(&t);
  }
  int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  ::close(fd);
  return cfgetospeed(&t);
}

TEST_F(SerialLinkTest, BaudRateFromTheNameTheIniFileOrTheDefault) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open("COM2"));
  ASSERT_GE(HeldDescriptor(sim_.ptyPath()), 0);
  EXPECT_EQ(HostSpeed(sim_.ptyPath()), B38400);
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
  PDLNK_Close(handle_);
  handle_ = -1;
  sim_.Stop();

  ASSERT_TRUE(StartReader("BaudRate=9600\n", {"--set", "BaudRate=9600"}));
  ASSERT_TRUE(Open("COM2"));
  EXPECT_EQ(HostSpeed(sim_.ptyPath()), B9600);
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
  PDLNK_Close(handle_);
  handle_ = -1;
  sim_.Stop();

  // The name's rate wins over the INI file's.
  ASSERT_TRUE(StartReader("BaudRate=19200\n", {"--set", "BaudRate=9600"}));
  ASSERT_TRUE(Open("COM2:9600"));
  EXPECT_EQ(HostSpeed(sim_.ptyPath()), B9600);
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
}

TEST_F(SerialLinkTest, RatesWithoutATermiosConstantAreSetExactly) {
  ASSERT_TRUE(StartReader(""));
  for (const uint32_t rate : {14400u, 28800u, 56000u, 128000u, 256000u}) {
    SCOPED_TRACE(rate);
    ASSERT_TRUE(Open(("COM2:" + std::to_string(rate)).c_str()));
    const int held = HeldDescriptor(sim_.ptyPath());
    ASSERT_GE(held, 0);
    EXPECT_EQ(pdlnktest::PortRate(held), rate);
    EXPECT_EQ(PDLNK_Close(handle_), PDLNK_SUCCESS);
    handle_ = -1;
  }
}

TEST_F(SerialLinkTest, PortSettingsAreRestoredOnClose) {
  ASSERT_TRUE(StartReader(""));
  const speed_t before = HostSpeed(sim_.ptyPath());
  ASSERT_NE(before, B38400);
  ASSERT_TRUE(Open());
  EXPECT_EQ(HostSpeed(sim_.ptyPath()), B38400);
  EXPECT_EQ(PDLNK_Close(handle_), PDLNK_SUCCESS);
  handle_ = -1;
  EXPECT_EQ(HostSpeed(sim_.ptyPath()), before);
}

Q7M_CHILD(OpenCom2AndReport) {
  int handle = -1;
  const uint32_t r = PDLNK_Open(&handle, "COM2", 1);
  q7mtest::Say(r == PDLNK_SUCCESS ? "0"
                                  : std::to_string(r) + " " + std::to_string(Q7M_GetLastError()));
  std::string line;
  q7mtest::Hear(&line);
  if (r == PDLNK_SUCCESS) PDLNK_Close(handle);
  return 0;
}

TEST_F(SerialLinkTest, ThePortIsOwnedByOneProcessAtATime) {
  ASSERT_TRUE(StartReader(""));
  q7mtest::ChildProcess first, second;
  ASSERT_TRUE(first.Start("OpenCom2AndReport"));
  std::string line;
  ASSERT_TRUE(first.ReadLine(&line));
  EXPECT_EQ(line, "0");
  ASSERT_TRUE(second.Start("OpenCom2AndReport"));
  ASSERT_TRUE(second.ReadLine(&line));
  EXPECT_EQ(line, "1000 " + std::to_string(Q7M_ERROR_SHARING_VIOLATION));
  second.WriteLine("end");
  EXPECT_EQ(second.Wait(), 0);
  first.WriteLine("end");
  EXPECT_EQ(first.Wait(), 0);
  // Released on close: this process can have it now.
  EXPECT_TRUE(Open());
}

// Opens COM2 as a process without CAP_SYS_ADMIN (root keeps its uid and
// file access, loses what lets it past a terminal's exclusive mode).
Q7M_CHILD(OpenCom2WithoutSysAdmin) {
  if (geteuid() == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return 10;
    data[CAP_SYS_ADMIN / 32].effective &= ~(1u << (CAP_SYS_ADMIN % 32));
    if (syscall(SYS_capset, &header, data) != 0) return 10;
  }
  int handle = -1;
  const uint32_t r = PDLNK_Open(&handle, "COM2", 1);
  q7mtest::Say(r == PDLNK_SUCCESS ? "0"
                                  : std::to_string(r) + " " + std::to_string(Q7M_GetLastError()));
  if (r == PDLNK_SUCCESS) PDLNK_Close(handle);
  return 0;
}

// The port is held with the terminal's exclusive mode and a flock: the
// exclusive mode refuses an ordinary process at the open, but not root (it
// has CAP_SYS_ADMIN), which the flock stops. Either way the second opener
// learns the same: the port is in use.
TEST_F(SerialLinkTest, APortInUseIsRefusedAlikeToRootAndToAnOrdinaryProcess) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open());
  const std::string inUse = "1000 " + std::to_string(Q7M_ERROR_SHARING_VIOLATION);
  q7mtest::ChildProcess privileged, ordinary;
  ASSERT_TRUE(privileged.Start("OpenCom2AndReport"));
  std::string line;
  ASSERT_TRUE(privileged.ReadLine(&line));
  EXPECT_EQ(line, inUse) << (geteuid() == 0 ? "as root" : "as an ordinary user");
  privileged.WriteLine("end");
  EXPECT_EQ(privileged.Wait(), 0);

  ASSERT_TRUE(ordinary.Start("OpenCom2WithoutSysAdmin"));
  ASSERT_TRUE(ordinary.ReadLine(&line)) << "exit " << ordinary.Wait();
  EXPECT_EQ(line, inUse);
  EXPECT_EQ(ordinary.Wait(), 0);
  // The holder's line still works.
  EXPECT_EQ(Exchange("C10").substr(1, 2), "10");
}

TEST_F(SerialLinkTest, CloseDuringAWaitingReceive) {
  ASSERT_TRUE(StartReader("SendENQInvervalTime=100\n", {"--fault", "no-answer count=1"}));
  ASSERT_TRUE(Open());
  ASSERT_EQ(PDLNK_Send(handle_, "C10", 3, kLimitMs), PDLNK_SUCCESS);
  std::thread receiver = StartWaitingReceive();
  // The Send wrote the first request; a second one comes from the
  // Receive, which is therefore waiting.
  ASSERT_TRUE(sim_.WaitForCounter("EnqsReceived", 2));
  EXPECT_EQ(PDLNK_Close(handle_), PDLNK_SUCCESS);
  receiver.join();
  EXPECT_EQ(receiveResult_, PDLNK_CANCELLED);
  EXPECT_EQ(PDLNK_Close(handle_), PDLNK_INVALID_HANDLE);
  handle_ = -1;
}

TEST_F(SerialLinkTest, ASendBesideAnotherThreadsWaitingReceiveEndsWithinItsOwnLimit) {
  ASSERT_TRUE(StartReader("SendENQInvervalTime=100\n", {"--fault", "no-answer count=1"}));
  ASSERT_TRUE(Open());
  ASSERT_EQ(PDLNK_Send(handle_, "C10", 3, kLimitMs), PDLNK_SUCCESS);
  std::atomic<bool> receiveEnded{false};
  std::thread receiver([this, &receiveEnded] {
    char buffer[64];
    int received = 0;
    receiveResult_ = PDLNK_Receive(handle_, buffer, sizeof buffer, &received, 60000);
    receiveEnded = true;
  });
  ASSERT_TRUE(sim_.WaitForCounter("EnqsReceived", 2));  // the receive is waiting
  // The handle is this thread's too: its send may not wait for the other
  // thread's 60 s receive, only for its own 200 ms.
  EXPECT_EQ(PDLNK_Send(handle_, "C11", 3, 200), PDLNK_TIMEOUT);
  EXPECT_FALSE(receiveEnded.load()) << "the send waited for the receive to end";
  EXPECT_EQ(sim_.Counter("CommandFrames"), 1) << "nothing was sent";
  EXPECT_EQ(PDLNK_CancelIO(handle_), PDLNK_SUCCESS);
  receiver.join();
  EXPECT_EQ(receiveResult_, PDLNK_CANCELLED);
}

TEST_F(SerialLinkTest, CancelHoldsUntilReset) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open());
  EXPECT_EQ(PDLNK_CancelIO(handle_), PDLNK_SUCCESS);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(PDLNK_Send(handle_, "C10", 3, kLimitMs), PDLNK_CANCELLED);
  char buffer[16];
  int received = -1;
  EXPECT_EQ(PDLNK_Receive(handle_, buffer, sizeof buffer, &received, kLimitMs), PDLNK_CANCELLED);
  EXPECT_EQ(sim_.Counter("CommandFrames"), 0);
  EXPECT_EQ(PDLNK_ResetIO(handle_), PDLNK_SUCCESS);
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
}

TEST_F(SerialLinkTest, CancelEndsAnAckWait) {
  ASSERT_TRUE(StartReader("ReceiveAckTimeout=60000\n", {"--fault", "no-ack count=1"}));
  ASSERT_TRUE(Open());
  uint32_t sendResult = 0;
  std::thread sender([&] { sendResult = PDLNK_Send(handle_, "C10", 3, 60000); });
  // The frame is on the line: the Send is past its cancel check and waits
  // (or is about to wait) for the acknowledgement.
  EXPECT_TRUE(sim_.WaitForCounter("CommandFrames", 1));
  EXPECT_EQ(PDLNK_CancelIO(handle_), PDLNK_SUCCESS);
  sender.join();
  EXPECT_EQ(sendResult, PDLNK_CANCELLED);
}

TEST_F(SerialLinkTest, MissingAckResendsWithoutARetryCount) {
  ASSERT_TRUE(StartReader("ReceiveAckTimeout=50\n", {"--fault", "no-ack count=5"}));
  ASSERT_TRUE(Open());
  EXPECT_EQ(Exchange("C10").substr(0, 3), "P10");
  // Five frames go unanswered, so the sixth at least was sent. (A loaded
  // machine may let one more ACK wait run out before the ACK is read.)
  EXPECT_GE(sim_.Counter("CommandFrames"), 6);
  EXPECT_GE(sim_.Counter("AcksSent"), 1);
}

TEST_F(SerialLinkTest, MissingAckUntilTheTimeLimitAnswersTimeout) {
  ASSERT_TRUE(StartReader("ReceiveAckTimeout=100\n", {"--fault", "no-ack count=1000"}));
  ASSERT_TRUE(Open());
  EXPECT_EQ(PDLNK_Send(handle_, "C10", 3, 300), PDLNK_TIMEOUT);
  EXPECT_TRUE(sim_.WaitForCounter("CommandFrames", 1));
  EXPECT_EQ(sim_.Counter("AcksSent"), 0);
}

TEST_F(SerialLinkTest, DeviceInfoOfASerialPort) {
  ASSERT_TRUE(StartReader(""));
  ASSERT_TRUE(Open());
  unsigned char record[sizeof(PDLNK_DEVICE_INFO) + 8];
  std::memset(record, 0xA5, sizeof record);
  EXPECT_EQ(PDLNK_GetDeviceInfo(handle_, reinterpret_cast<PDLNK_DEVICE_INFO*>(record), 36),
            PDLNK_WRONG_RECORD_SIZE);
  for (unsigned char b : record) ASSERT_EQ(b, 0xA5);

  PDLNK_DEVICE_INFO info;
  ASSERT_EQ(PDLNK_GetDeviceInfo(handle_, &info, sizeof info), PDLNK_SUCCESS);
  EXPECT_STREQ(info.devicePath, "COM2");
  EXPECT_EQ(info.manufacturer, nullptr);
  EXPECT_EQ(info.product, nullptr);
  EXPECT_EQ(info.serialNumber, nullptr);
  EXPECT_EQ(info.vendorId, 0);
  EXPECT_EQ(info.productId, 0);
  EXPECT_EQ(info.versionNumber, 0);
  EXPECT_EQ(info.maxSendLength, 2100u);
  EXPECT_EQ(info.maxReceiveLength, 1050u);
  EXPECT_EQ(PDLNK_Exists(handle_), PDLNK_SUCCESS);
}

TEST_F(SerialLinkTest, ShareArgumentIsIgnoredForSerialPorts) {
  ASSERT_TRUE(StartReader(""));
  // Shared or not, a serial port is owned by one handle.
  int a = -1, b = -1;
  ASSERT_EQ(PDLNK_Open(&a, "COM2", 1), PDLNK_SUCCESS);
  EXPECT_EQ(PDLNK_Open(&b, "COM2", 1), PDLNK_SYSTEM_ERROR);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SHARING_VIOLATION);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(PDLNK_Close(a), PDLNK_SUCCESS);
}

}  // namespace

namespace {

TEST_F(SerialLinkTest, ReaderGoneDuringAnExchange) {
  ASSERT_TRUE(StartReader("SendENQInvervalTime=60000\n", {"--fault", "no-answer count=1"}));
  ASSERT_TRUE(Open());
  ASSERT_EQ(PDLNK_Send(handle_, "C10", 3, kLimitMs), PDLNK_SUCCESS);
  sim_.Stop();  // the pseudo-terminal hangs up
  char buffer[16];
  int received = -1;
  // The hang-up reaches the link as an I/O error, the response counts as
  // faulty and is asked for again at once; that request can no longer be
  // written. (The ENQ interval is far beyond the limit, so no other request
  // is due.)
  EXPECT_EQ(PDLNK_Receive(handle_, buffer, sizeof buffer, &received, kLimitMs), PDLNK_SYSTEM_ERROR);
  EXPECT_EQ(received, 0);
  EXPECT_NE(PDLNK_Send(handle_, "C10", 3, 200), PDLNK_SUCCESS);
  EXPECT_EQ(PDLNK_Close(handle_), PDLNK_SUCCESS);
  handle_ = -1;
}

}  // namespace
