// Costs of the emulator's exchange path: framing, command execution, and a
// whole command/response round trip over the virtual HID bus and over a
// pseudo-terminal, with q7m-sim's event loop running in a thread of this
// process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "command_dispatcher.h"
#include "reader_commands.h"
#include "serial_frame.h"
#include "simulator.h"
#include "unix_socket.h"

namespace {

using namespace q7msim;

void BM_FrameEncodeAndReceive(benchmark::State& state) {
  std::vector<uint8_t> message(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> frame(MaxFrameSize(message.size()));
  FrameReceiver receiver;
  for (auto _ : state) {
    size_t n = EncodeFrame(message.data(), message.size(), frame.data(), frame.size());
    FrameReceiver::Event last = FrameReceiver::Event::kNone;
    for (size_t i = 0; i < n; ++i) {
      FrameReceiver::Event e = receiver.Feed(frame[i]);
      if (e != FrameReceiver::Event::kNone) last = e;
    }
    benchmark::DoNotOptimize(last);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FrameEncodeAndReceive)->Arg(64)->Arg(2048);

void BM_ExecuteCounters(benchmark::State& state) {
  CommandDispatcher dispatcher;
  RegisterDeviceCommands(&dispatcher);
  ReaderState reader;
  ResponseBuffer response;
  const uint8_t command[] = {'C', 'M', '0'};
  for (auto _ : state) {
    dispatcher.Execute(reader, command, sizeof command, &response);
    benchmark::DoNotOptimize(response.size());
  }
}
BENCHMARK(BM_ExecuteCounters);

// One emulator with a USB and a serial reader, its loop on a thread.
// A scratch directory removed when the benchmark ends (after the emulator
// that lives in it has removed its sockets).
struct ScratchDir {
  ScratchDir() {
    char templ[] = "/tmp/q7m-bench.XXXXXX";
    if (mkdtemp(templ)) path = templ;
  }
  ~ScratchDir() {
    if (!path.empty()) rmdir(path.c_str());
  }
  std::string path;
};

class RunningSim {
 public:
  RunningSim() {
    dir_ = scratch_.path;
    setenv("Q7M_HIDBUS_DIR", dir_.c_str(), 1);
    SimConfig config;
    config.controlPath = dir_ + "/ctl";
    ReaderConfig usb;
    usb.name = "usb";
    usb.link = LinkKind::kUsb;
    ReaderConfig serial;
    serial.name = "serial";
    serial.link = LinkKind::kSerial;
    config.readers = {usb, serial};
    std::string banner, error;
    ok_ = sim_.Start(config, &banner, &error);
    if (ok_) thread_ = std::thread([this] { sim_.Run(); });
  }
  ~RunningSim() {
    if (thread_.joinable()) {
      // Stopped through its own control socket: the loop is not thread-safe.
      int fd = ConnectSeqpacket(dir_ + "/ctl");
      if (fd >= 0) {
        send(fd, "quit", 4, MSG_NOSIGNAL);
        char answer[16];
        recv(fd, answer, sizeof answer, 0);
        close(fd);
      }
      thread_.join();
    }
  }
  bool ok() const { return ok_; }
  Simulator& sim() { return sim_; }

 private:
  ScratchDir scratch_;
  std::string dir_;
  Simulator sim_;
  std::thread thread_;
  bool ok_ = false;
};

bool ReadFully(int fd, void* buffer, size_t size) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    pollfd pf{fd, POLLIN, 0};
    if (poll(&pf, 1, 2000) != 1) return false;
    ssize_t n = read(fd, p + done, size - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void BM_UsbRoundTrip(benchmark::State& state) {
  RunningSim running;
  if (!running.ok()) return state.SkipWithError("emulator did not start");
  int fd = ConnectSeqpacket(running.sim().FindReader("usb")->link()->Address());
  uint8_t open[12] = {'Q', 'H', 'B', 'O', 1, 0, 1, 0};
  uint8_t buffer[4600];
  if (fd < 0 || send(fd, open, sizeof open, 0) != sizeof open ||
      recv(fd, buffer, sizeof buffer, 0) < 28)
    return state.SkipWithError("bus open failed");
  std::vector<uint8_t> report(2068, 0);
  report[0] = 2;
  report[2] = 3;
  std::memcpy(report.data() + 3, "C10", 3);
  for (auto _ : state) {
    send(fd, report.data(), report.size(), 0);
    if (recv(fd, buffer, sizeof buffer, 0) != 2068) return state.SkipWithError("no answer");
  }
  close(fd);
}
BENCHMARK(BM_UsbRoundTrip)->UseRealTime();

void BM_SerialRoundTrip(benchmark::State& state) {
  RunningSim running;
  if (!running.ok()) return state.SkipWithError("emulator did not start");
  int fd = open(running.sim().FindReader("serial")->link()->Address().c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (fd < 0 || tcgetattr(fd, &t) != 0) return state.SkipWithError("pty open failed");
  cfmakeraw(&t);
  cfsetspeed(&t, B38400);
  tcsetattr(fd, TCSANOW, &t);
  const uint8_t frame[] = {0x10, 0x02, 'C', '1', '0', 0x10, 0x03, 'C' ^ '1' ^ '0' ^ 0x03};
  const uint8_t enq[] = {0x10, 0x05};
  uint8_t buffer[16];
  for (auto _ : state) {
    write(fd, frame, sizeof frame);
    if (!ReadFully(fd, buffer, 2)) return state.SkipWithError("no ACK");
    write(fd, enq, sizeof enq);
    if (!ReadFully(fd, buffer, 10))
      return state.SkipWithError("no response");  // DLE STX P1000 DLE ETX BCC
  }
  close(fd);
}
BENCHMARK(BM_SerialRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
