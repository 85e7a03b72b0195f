#include "sim_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace simtest {

namespace {

constexpr uint8_t kDle = 0x10, kStx = 0x02, kEtx = 0x03;
const uint16_t kSizes[9] = {4, 12, 20, 36, 76, 140, 268, 372, 2068};

int ConnectTo(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool WaitReadable(int fd, std::chrono::milliseconds limit) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, static_cast<int>(limit.count()));
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::string BusDir() {
  const char* dir = std::getenv("Q7M_HIDBUS_DIR");
  return dir ? dir : "";
}

std::string ProgramPath() {
  return q7mtest::BuildBinDir() + "/q7m-sim";
}

unsigned ReportIdForUsed(size_t used) {
  for (unsigned id = 1; id <= 8; ++id) {
    if (kSizes[id - 1] >= used) return id;
  }
  return 9;
}

size_t ReportSizeOf(unsigned id) {
  return id >= 1 && id <= 9 ? kSizes[id - 1] : 0;
}

// ---- SimProcess ----

bool SimProcess::Start(const std::vector<std::string>& args) {
  std::vector<std::string> all = args;
  bool haveControl = false, haveLog = false;
  for (const std::string& a : args) {
    haveControl = haveControl || a.rfind("--control", 0) == 0 || a == "--no-control";
    haveLog = haveLog || a.rfind("--log", 0) == 0;
  }
  std::string dir = q7mtest::MakeTempDir("sim");
  if (!haveControl) {
    controlPath_ = dir + "/sim.ctl";
    all.push_back("--control=" + controlPath_);
  }
  if (!haveLog) {
    logPath_ = dir + "/wire.log";
    all.push_back("--log=" + logPath_);
  }
  if (!process_.StartProgram(ProgramPath(), all)) return false;
  std::string line;
  while (process_.ReadLine(&line)) {
    if (line == "ready") return true;
    std::istringstream words(line);
    std::string kind, name, link, path;
    words >> kind >> name >> link >> path;
    if (kind == "reader") addresses_[name] = path;
    if (kind == "control") controlPath_ = name;
  }
  return false;
}

std::string SimProcess::Address(const std::string& reader) const {
  auto it = addresses_.find(reader);
  return it == addresses_.end() ? std::string() : it->second;
}

std::string SimProcess::Control(const std::string& command) {
  int fd = ConnectTo(controlPath_);
  if (fd < 0) return "NO CONNECTION";
  std::string answer;
  if (send(fd, command.data(), command.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(command.size()) &&
      WaitReadable(fd, 5s)) {
    std::vector<char> buffer(1 << 17);
    ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n > 0) answer.assign(buffer.data(), static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}

int SimProcess::Quit() {
  Control("quit");
  return process_.Wait(10s);
}

std::string SimProcess::Log() const {
  return logPath_.empty() ? "" : q7mtest::ReadFile(logPath_);
}

bool SimProcess::WaitForLog(const std::string& needle, std::chrono::milliseconds limit) const {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (Log().find(needle) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

// ---- SerialHost ----

SerialHost::~SerialHost() {
  Close();
}

bool SerialHost::Open(const std::string& path, unsigned baud) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return false;
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return false;
  cfmakeraw(&t);
  speed_t speed = baud == 9600 ? B9600 : baud == 19200 ? B19200 : B38400;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARODD);
  t.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
  // A pseudo-terminal drops PARENB; when that is the only change asked for,
  // the kernel answers EINVAL. Even parity is asked for, as on a real port,
  // and the refusal is accepted.
  if (tcsetattr(fd_, TCSANOW, &t) != 0) {
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB);
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
  }
  tcflush(fd_, TCIOFLUSH);
  return true;
}

void SerialHost::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::string SerialHost::Frame(const std::string& message, bool wrongCheck) {
  std::string frame{static_cast<char>(kDle), static_cast<char>(kStx)};
  uint8_t check = 0;
  for (char c : message) {
    check ^= static_cast<uint8_t>(c);
    if (static_cast<uint8_t>(c) == kDle) frame += static_cast<char>(kDle);
    frame += c;
  }
  check ^= kEtx;
  if (wrongCheck) check ^= 0x5A;
  frame += static_cast<char>(kDle);
  frame += static_cast<char>(kEtx);
  frame += static_cast<char>(check);
  return frame;
}

bool SerialHost::Send(const std::string& bytes) {
  return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool SerialHost::ReadByte(uint8_t* byte, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) left = 0ms;
    if (!WaitReadable(fd_, left)) return false;
    ssize_t n = read(fd_, byte, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

std::string SerialHost::ReadControl(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  uint8_t first = 0, second = 0;
  if (!ReadByte(&first, deadline) || !ReadByte(&second, deadline)) return "";
  return std::string{static_cast<char>(first), static_cast<char>(second)};
}

bool SerialHost::ReadFrame(std::string* data, bool* checkOk, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  uint8_t b = 0;
  // Hunt for DLE STX.
  for (;;) {
    if (!ReadByte(&b, deadline)) return false;
    if (b != kDle) continue;
    if (!ReadByte(&b, deadline)) return false;
    if (b == kStx) break;
  }
  data->clear();
  uint8_t check = 0;
  for (;;) {
    if (!ReadByte(&b, deadline)) return false;
    if (b != kDle) {
      data->push_back(static_cast<char>(b));
      check ^= b;
      continue;
    }
    if (!ReadByte(&b, deadline)) return false;
    if (b == kDle) {
      data->push_back(static_cast<char>(b));
      check ^= b;
      continue;
    }
    if (b != kEtx) return false;
    check ^= kEtx;
    if (!ReadByte(&b, deadline)) return false;
    *checkOk = b == check;
    return true;
  }
}

bool SerialHost::Silent(std::chrono::milliseconds quiet) {
  return !WaitReadable(fd_, quiet);
}

std::string SerialHost::Exchange(const std::string& command) {
  if (!SendFrame(command) || ReadControl() != "\x10\x06" || !SendEnq()) return "";
  std::string data;
  bool ok = false;
  if (!ReadFrame(&data, &ok) || !ok) return "";
  return data;
}

// ---- BusHost ----

BusHost::~BusHost() {
  Close();
}

void BusHost::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

int BusHost::Open(const std::string& path, uint16_t flags, BusIdentity* identity) {
  Close();
  fd_ = ConnectTo(path);
  if (fd_ < 0) return -1;
  uint8_t open[12] = {'Q',
                      'H',
                      'B',
                      'O',
                      1,
                      0,
                      static_cast<uint8_t>(flags & 0xFF),
                      static_cast<uint8_t>(flags >> 8)};
  uint32_t pid = static_cast<uint32_t>(getpid());
  std::memcpy(open + 8, &pid, 4);
  if (send(fd_, open, sizeof open, MSG_NOSIGNAL) != sizeof open || !WaitReadable(fd_, 3s)) {
    Close();
    errno = EIO;
    return -1;
  }
  uint8_t answer[8192];
  ssize_t n = recv(fd_, answer, sizeof answer, 0);
  if (n >= 8 && std::memcmp(answer, "QHBR", 4) == 0) {
    int reason = Le16(answer + 6);
    Close();
    return reason;
  }
  if (n < 28 || std::memcmp(answer, "QHBA", 4) != 0 || Le16(answer + 4) != 1) {
    Close();
    errno = EPROTO;
    return -1;
  }
  BusIdentity id;
  id.vendorId = Le16(answer + 8);
  id.productId = Le16(answer + 10);
  id.version = Le16(answer + 12);
  id.inputLength = Le16(answer + 14);
  id.outputLength = Le16(answer + 16);
  id.featureLength = Le16(answer + 18);
  size_t m = Le16(answer + 20), p = Le16(answer + 22), s = Le16(answer + 24), d = Le16(answer + 26);
  if (28 + m + p + s + d != static_cast<size_t>(n)) {
    Close();
    errno = EPROTO;
    return -1;
  }
  const char* text = reinterpret_cast<const char*>(answer + 28);
  id.manufacturer.assign(text, m);
  id.product.assign(text + m, p);
  id.serial.assign(text + m + p, s);
  id.descriptor.assign(answer + 28 + m + p + s, answer + n);
  identity_ = id;
  if (identity) *identity = id;
  return 0;
}

bool BusHost::SendMessage(const std::string& message) {
  std::vector<uint8_t> packet(identity_.outputLength, 0);
  if (message.size() + 3 > packet.size()) return false;
  packet[0] = static_cast<uint8_t>(ReportIdForUsed(message.size() + 3));
  packet[1] = static_cast<uint8_t>(message.size() >> 8);
  packet[2] = static_cast<uint8_t>(message.size() & 0xFF);
  std::memcpy(packet.data() + 3, message.data(), message.size());
  return SendPacket(packet);
}

bool BusHost::SendPacket(const std::vector<uint8_t>& packet) {
  return send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(packet.size());
}

bool BusHost::ReceivePacket(std::vector<uint8_t>* packet, std::chrono::milliseconds limit) {
  if (fd_ < 0 || !WaitReadable(fd_, limit)) return false;
  packet->assign(4200, 0);
  ssize_t n = recv(fd_, packet->data(), packet->size(), 0);
  if (n <= 0) return false;
  packet->resize(static_cast<size_t>(n));
  return true;
}

bool BusHost::ReceiveMessage(std::string* message, std::chrono::milliseconds limit) {
  std::vector<uint8_t> packet;
  if (!ReceivePacket(&packet, limit) || packet.size() < 3) return false;
  size_t length = (static_cast<size_t>(packet[1]) << 8) | packet[2];
  if (packet[0] == 0 || length + 3 > packet.size()) return false;
  message->assign(reinterpret_cast<const char*>(packet.data() + 3), length);
  return true;
}

bool BusHost::WaitForHangup(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    if (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) {
      // Queued reports may still be read first; the end is a zero read.
      uint8_t scratch[4200];
      while (recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
      }
      return true;
    }
    uint8_t scratch[4200];
    if (recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT) == 0) return true;
  }
}

std::string BusHost::Exchange(const std::string& message) {
  std::string answer;
  if (!SendMessage(message) || !ReceiveMessage(&answer)) return "";
  return answer;
}

}  // namespace simtest
