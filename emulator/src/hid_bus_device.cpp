#include "hid_bus_device.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "hid_bus_protocol.h"
#include "text_util.h"
#include "unix_socket.h"

namespace q7msim {

namespace {

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void PutLe16(uint8_t* out, size_t value) {
  out[0] = static_cast<uint8_t>(value & 0xFF);
  out[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

uint16_t GetLe16(const uint8_t* in) {
  return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

bool IsBusName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return name[0] != '.';
}

}  // namespace

std::string HidBusDirectory() {
  const char* dir = std::getenv(hidbus::kDirectoryVariable);
  if (dir && *dir) return dir;
  return "/tmp/q7m-hidbus-" + std::to_string(getuid());
}

HidBusDevice::HidBusDevice(Reader* reader, EventLoop* loop)
    : reader_(reader),
      loop_(loop),
      delayTimer_(loop, [this] { OnDelayedDue(); }),
      replugTimer_(loop,
                   [this] {
                     std::string error;
                     if (!plugged_ && !Plug(&error))
                       reader_->log().Note(name(), "WARN", "replug failed: %s", error.c_str());
                   }),
      openTimer_(loop, [this] { OnOpenTimeout(); }),
      usbSerial_("Q7MSIM-" + reader->name()),
      busName_(reader->name()) {
  for (size_t i = 0; i < kMaxConnections; ++i) connections_[i].device = this;
}

HidBusDevice::~HidBusDevice() {
  Stop();
}

bool HidBusDevice::Start(std::string* error) {
  if (started_) return true;
  if (!IsBusName(busName_)) {
    *error = "bus name '" + busName_ + "' must be letters, digits, '.', '_' or '-'";
    return false;
  }
  std::string dir = HidBusDirectory();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create bus directory " + dir + ": " + std::strerror(errno);
    return false;
  }
  // The default lies in /tmp, where anyone may have made it first: hosts
  // trust whatever answers in it, so it must be ours (or root's), a real
  // directory, and closed to writers outside our group, or anyone could
  // put a reader of his own there in place of ours.
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "bus directory " + dir + " is not a directory";
    return false;
  }
  if ((st.st_uid != geteuid() && st.st_uid != 0) || (st.st_mode & S_IWOTH) != 0) {
    *error = "bus directory " + dir + " is not this user's own, or anyone may write to it";
    return false;
  }
  path_ = dir + "/" + busName_ + hidbus::kSocketSuffix;
  if (!delayTimer_.Init(error) || !replugTimer_.Init(error) || !openTimer_.Init(error))
    return false;
  if (!Plug(error)) return false;
  started_ = true;
  return true;
}

void HidBusDevice::Stop() {
  if (!started_) return;
  if (plugged_) Unplug(0, "stopped");
  replugTimer_.Cancel();
  started_ = false;
}

bool HidBusDevice::Plug(std::string* error) {
  listen_ = ListenSeqpacket(path_, 16, error);
  if (listen_ < 0) return false;
  if (!loop_->Watch(listen_, EPOLLIN, this)) {
    *error = std::string("epoll: ") + std::strerror(errno);
    close(listen_);
    unlink(path_.c_str());
    listen_ = -1;
    return false;
  }
  plugged_ = true;
  reader_->log().Note(name(), "LINK", "PLUG %s vendor=0x%04X product=0x%04X", path_.c_str(),
                      vendorId_, productId_);
  return true;
}

void HidBusDevice::Unplug(uint32_t replugAfterMs, const char* why) {
  for (Connection& c : connections_) {
    if (c.state != Connection::State::kFree) CloseConnection(&c, "device unplugged");
  }
  loop_->Unwatch(listen_);
  close(listen_);
  listen_ = -1;
  // The socket file goes first: a host that looks now finds no device.
  unlink(path_.c_str());
  delayTimer_.Cancel();
  openTimer_.Cancel();
  delayedCount_ = 0;
  plugged_ = false;
  ++counters_.unplugs;
  reader_->log().Note(name(), "LINK", "UNPLUG (%s)", why);
  if (replugAfterMs > 0) replugTimer_.Start(replugAfterMs);
}

std::string HidBusDevice::Act(const FaultRequest& request) {
  using Action = FaultRequest::Action;
  switch (request.action) {
    case Action::kUnplug:
      if (!started_) return "device not started";
      if (!plugged_) return "device is unplugged already";
      replugTimer_.Cancel();
      Unplug(request.ms, "control");
      return {};
    case Action::kReplug: {
      if (!started_) return "device not started";
      if (plugged_) return "device is plugged in already";
      replugTimer_.Cancel();
      std::string error;
      if (!Plug(&error)) return error;
      return {};
    }
    default:
      return "DSR applies to serial readers only";
  }
}

std::string HidBusDevice::SetWhileUnplugged() const {
  if (started_ && plugged_) return "unplug the device first";
  return {};
}

void HidBusDevice::AddFields(FieldTable* t) {
  auto number16 = [](uint16_t* target) {
    return [target](std::string_view v) {
      uint64_t n = 0;
      if (!ParseUnsigned(v, 0xFFFF, &n)) return std::string("a number from 0 to 0xFFFF");
      *target = static_cast<uint16_t>(n);
      return std::string();
    };
  };
  auto text = [](std::string* target) {
    return [target](std::string_view v) {
      if (v.size() > hidbus::kMaxStringBytes || !IsPrintable(v))
        return std::string("at most 126 printable characters");
      *target = std::string(v);
      return std::string();
    };
  };
  auto length = [this](size_t* target) {
    return [this, target](std::string_view v) {
      std::string busy = SetWhileUnplugged();
      if (!busy.empty()) return busy;
      uint64_t n = 0;
      if (!ParseUnsigned(v, kLargestReport, &n) || !IsReportSize(n) || n < 4)
        return std::string("one of 4, 12, 20, 36, 76, 140, 268, 372, 2068");
      *target = static_cast<size_t>(n);
      return std::string();
    };
  };
  t->Add(
      "VendorId", "USB vendor id", [this] { return FormatHex(vendorId_, 4); },
      number16(&vendorId_));
  t->Add(
      "ProductId", "USB product id", [this] { return std::to_string(productId_); },
      number16(&productId_));
  t->Add(
      "VersionNumber", "USB device version number", [this] { return FormatHex(versionNumber_, 4); },
      number16(&versionNumber_));
  t->Add(
      "Manufacturer", "USB manufacturer string", [this] { return manufacturer_; },
      text(&manufacturer_));
  t->Add(
      "Product", "USB product string", [this] { return product_; }, text(&product_));
  t->Add(
      "UsbSerial", "USB serial number string (what USB:<serial> selects)",
      [this] { return usbSerial_; }, text(&usbSerial_));
  t->Add(
      "InputReportLength", "input report length in bytes, id byte included",
      [this] { return std::to_string(inputLength_); }, length(&inputLength_));
  t->Add(
      "OutputReportLength", "output report length in bytes, id byte included",
      [this] { return std::to_string(outputLength_); }, length(&outputLength_));
  t->Add(
      "BusName", "socket name on the bus (<BusName>.hid)", [this] { return busName_; },
      [this](std::string_view v) {
        std::string busy = SetWhileUnplugged();
        if (!busy.empty()) return busy;
        if (!IsBusName(v)) return std::string("letters, digits, '.', '_' or '-', up to 64");
        busName_ = std::string(v);
        if (started_) path_ = HidBusDirectory() + "/" + busName_ + hidbus::kSocketSuffix;
        return std::string();
      });
  t->AddNumber("OpenTimeout", "ms a new connection has to send its open packet", 10, 600000,
               "10 to 600000 ms", &openTimeoutMs_);
  t->AddSwitch("ReportDescriptor", "on: the identity carries a report descriptor",
               &sendDescriptor_);
}

std::string HidBusDevice::Describe() const {
  size_t opened = 0, reports = 0;
  for (const Connection& c : connections_) {
    if (c.state == Connection::State::kFree) continue;
    ++opened;
    if (c.state == Connection::State::kReports) ++reports;
  }
  std::string text;
  text += std::string("Plugged=") + (plugged_ ? "yes" : "no") + "\n";
  text += "Connections=" + std::to_string(opened) + "\n";
  text += "ReportConnections=" + std::to_string(reports) + "\n";
  for (const Connection& c : connections_) {
    if (c.state != Connection::State::kReports && c.state != Connection::State::kProbe) continue;
    text += "Host=" + std::to_string(c.number) + " pid=" + std::to_string(c.pid) +
            (c.state == Connection::State::kReports ? " reports" : " probe") +
            ((c.flags & hidbus::kOpenExclusive) ? " exclusive" : " shared") + "\n";
  }
  text += "DelayedAnswers=" + std::to_string(delayedCount_) + "\n";
  text += "Opens=" + std::to_string(counters_.opens) + "\n";
  text += "OpensRefused=" + std::to_string(counters_.refused) + "\n";
  text += "OutputReports=" + std::to_string(counters_.reportsIn) + "\n";
  text += "InputReports=" + std::to_string(counters_.reportsOut) + "\n";
  text += "BadReports=" + std::to_string(counters_.badReports) + "\n";
  text += "ReportsDropped=" + std::to_string(counters_.dropped) + "\n";
  text += "Unplugs=" + std::to_string(counters_.unplugs) + "\n";
  return text;
}

void HidBusDevice::OnIoReady(uint32_t) {
  Accept();
}

void HidBusDevice::Accept() {
  for (;;) {
    int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: no more waiting
    }
    Connection* slot = nullptr;
    for (Connection& c : connections_) {
      if (c.state == Connection::State::kFree) {
        slot = &c;
        break;
      }
    }
    if (!slot) {
      uint8_t refuse[hidbus::kRefuseSize];
      std::memcpy(refuse, hidbus::kRefuseMagic, 4);
      PutLe16(refuse + 4, hidbus::kVersion);
      PutLe16(refuse + 6, hidbus::kTooManyHosts);
      send(fd, refuse, sizeof refuse, MSG_DONTWAIT | MSG_NOSIGNAL);
      close(fd);
      ++counters_.refused;
      reader_->log().Note(name(), "LINK", "REFUSED (too many hosts)");
      continue;
    }
    slot->fd = fd;
    slot->state = Connection::State::kOpening;
    slot->number = nextConnection_++;
    slot->flags = 0;
    slot->pid = 0;
    slot->acceptedMs = NowMs();
    if (!loop_->Watch(fd, EPOLLIN, slot)) {
      close(fd);
      slot->fd = -1;
      slot->state = Connection::State::kFree;
      continue;
    }
    if (!openTimer_.running()) openTimer_.Start(openTimeoutMs_);
  }
}

void HidBusDevice::OnOpenTimeout() {
  // A connection that never opens would hold one of the few slots for good.
  uint64_t now = NowMs();
  uint64_t next = 0;
  for (Connection& c : connections_) {
    if (c.state != Connection::State::kOpening) continue;
    uint64_t due = c.acceptedMs + openTimeoutMs_;
    if (due <= now) {
      CloseConnection(&c, "no open packet");
    } else if (next == 0 || due < next) {
      next = due;
    }
  }
  if (next) openTimer_.Start(static_cast<uint32_t>(next - now));
}

void HidBusDevice::CloseConnection(Connection* c, const char* why) {
  if (c->state == Connection::State::kFree) return;
  loop_->Unwatch(c->fd);
  close(c->fd);
  reader_->log().Note(name(), "LINK", "CLOSE host=%u (%s)", c->number, why);
  c->fd = -1;
  c->state = Connection::State::kFree;
}

void HidBusDevice::OnConnection(Connection* c, uint32_t events) {
  for (;;) {
    if (c->state == Connection::State::kFree) return;
    ssize_t n = recv(c->fd, packet_, sizeof packet_, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      CloseConnection(c, "receive failed");
      return;
    }
    if (n == 0) {
      CloseConnection(c, "closed by host");
      return;
    }
    size_t size = static_cast<size_t>(n);
    if (size > sizeof packet_) {
      ++counters_.badReports;
      reader_->state().Count(ReaderCounter::kLinkErrors);
      reader_->log().Note(name(), "WARN", "host=%u sent %zu bytes, more than any report", c->number,
                          size);
      continue;
    }
    switch (c->state) {
      case Connection::State::kOpening:
        HandleOpen(c, packet_, size);
        break;
      case Connection::State::kReports:
        HandleReport(c, packet_, size);
        break;
      default:
        reader_->log().Note(name(), "WARN", "host=%u opened for identity only sent %zu bytes",
                            c->number, size);
        break;
    }
  }
  if (c->state != Connection::State::kFree && (events & (EPOLLHUP | EPOLLERR)))
    CloseConnection(c, "hang-up");
}

bool HidBusDevice::HasReportsOpen(const Connection* except, bool exclusiveOnly) const {
  for (const Connection& c : connections_) {
    if (&c == except || c.state != Connection::State::kReports) continue;
    if (!exclusiveOnly || (c.flags & hidbus::kOpenExclusive)) return true;
  }
  return false;
}

void HidBusDevice::Refuse(Connection* c, uint16_t reason, const char* why) {
  uint8_t refuse[hidbus::kRefuseSize];
  std::memcpy(refuse, hidbus::kRefuseMagic, 4);
  PutLe16(refuse + 4, hidbus::kVersion);
  PutLe16(refuse + 6, reason);
  send(c->fd, refuse, sizeof refuse, MSG_DONTWAIT | MSG_NOSIGNAL);
  ++counters_.refused;
  reader_->log().Note(name(), "LINK", "REFUSED host=%u pid=%u (%s)", c->number, c->pid, why);
  CloseConnection(c, "refused");
}

void HidBusDevice::HandleOpen(Connection* c, const uint8_t* packet, size_t size) {
  if (size < hidbus::kOpenSize || std::memcmp(packet, hidbus::kOpenMagic, 4) != 0)
    return Refuse(c, hidbus::kMalformed, "malformed open");
  c->pid = static_cast<uint32_t>(packet[8] | (packet[9] << 8) | (packet[10] << 16) |
                                 (static_cast<uint32_t>(packet[11]) << 24));
  if (GetLe16(packet + 4) != hidbus::kVersion)
    return Refuse(c, hidbus::kBadVersion, "protocol version");
  c->flags = GetLe16(packet + 6);
  bool reports = c->flags & hidbus::kOpenReports;
  bool exclusive = c->flags & hidbus::kOpenExclusive;
  if (reader_->faults().Take(FaultKind::kBusy)) {
    reader_->log().Note(name(), "FAULT", "busy");
    return Refuse(c, hidbus::kBusy, "busy fault");
  }
  if (HasReportsOpen(c, true)) return Refuse(c, hidbus::kBusy, "held exclusively");
  if (reports && exclusive && HasReportsOpen(c, false))
    return Refuse(c, hidbus::kBusy, "open elsewhere, exclusive refused");

  uint8_t identity[hidbus::kIdentityHeaderSize + 3 * hidbus::kMaxStringBytes +
                   hidbus::kMaxDescriptorBytes];
  size_t length = BuildIdentity(identity, sizeof identity);
  if (length == 0) return Refuse(c, hidbus::kMalformed, "identity does not fit a packet");
  if (send(c->fd, identity, length, MSG_DONTWAIT | MSG_NOSIGNAL) != static_cast<ssize_t>(length)) {
    CloseConnection(c, "identity not sent");
    return;
  }
  c->state = reports ? Connection::State::kReports : Connection::State::kProbe;
  ++counters_.opens;
  reader_->log().Note(name(), "LINK", "OPEN host=%u pid=%u %s %s", c->number, c->pid,
                      reports ? "reports" : "probe", exclusive ? "exclusive" : "shared");
}

size_t HidBusDevice::BuildIdentity(uint8_t* out, size_t capacity) const {
  uint8_t descriptor[hidbus::kMaxDescriptorBytes];
  size_t descriptorSize = sendDescriptor_ ? BuildReportDescriptor(inputLength_, outputLength_,
                                                                  descriptor, sizeof descriptor)
                                          : 0;
  std::memset(out, 0, hidbus::kIdentityHeaderSize);
  std::memcpy(out, hidbus::kAcceptMagic, 4);
  PutLe16(out + 4, hidbus::kVersion);
  PutLe16(out + 6, hidbus::kAccepted);
  PutLe16(out + 8, vendorId_);
  PutLe16(out + 10, productId_);
  PutLe16(out + 12, versionNumber_);
  PutLe16(out + 14, inputLength_);
  PutLe16(out + 16, outputLength_);
  PutLe16(out + 18, 0);  // no feature reports
  PutLe16(out + 20, manufacturer_.size());
  PutLe16(out + 22, product_.size());
  PutLe16(out + 24, usbSerial_.size());
  PutLe16(out + 26, descriptorSize);
  size_t n = hidbus::kIdentityHeaderSize;
  for (const std::string* s : {&manufacturer_, &product_, &usbSerial_}) {
    if (n + s->size() > capacity) return 0;
    std::memcpy(out + n, s->data(), s->size());
    n += s->size();
  }
  if (n + descriptorSize > capacity) return 0;
  std::memcpy(out + n, descriptor, descriptorSize);
  return n + descriptorSize;
}

void HidBusDevice::HandleReport(Connection* c, const uint8_t* packet, size_t size) {
  ++counters_.reportsIn;
  reader_->log().Bytes(name(), "RX", packet, size);
  OutputReport report;
  if (const char* problem = ParseOutputReport(packet, size, outputLength_, &report)) {
    ++counters_.badReports;
    reader_->state().Count(ReaderCounter::kLinkErrors);
    reader_->log().Note(name(), "WARN", "host=%u output report refused: %s", c->number, problem);
    return;
  }
  if (report.idNotSmallest)
    reader_->log().Note(name(), "WARN", "host=%u report id %u for %zu used bytes (expected %u)",
                        c->number, report.id, report.size + 3, ReportIdFor(report.size + 3));

  reader_->Execute(report.message, report.size, &response_);
  FaultPlan& faults = reader_->faults();
  bool cancel = report.size >= 1 && report.message[0] == 'E';
  if (cancel) {
    // The cancel ends whatever the reader was doing, delayed answers too.
    delayTimer_.Cancel();
    delayedCount_ = 0;
    SendInput(response_.data(), response_.size());
    return;
  }
  if (reader_->AnswerHeld()) return;  // DeliverHeld sends it
  uint32_t ms = 0;
  if (faults.Take(FaultKind::kUnplugOnCommand, &ms)) {
    reader_->log().Note(name(), "FAULT", "unplug-on-command ms=%u", ms);
    Unplug(ms, "fault");
    return;
  }
  std::string_view code = CommandCodeOf(report.message, report.size);
  if (faults.TakeFor(FaultKind::kNoAnswer, code)) {
    reader_->log().Note(name(), "FAULT", "no-answer");
    return;
  }
  if (faults.TakeFor(FaultKind::kLate, code, &ms)) {
    reader_->log().Note(name(), "FAULT", "late ms=%u", ms);
    Delay(response_.data(), response_.size(), NowMs() + ms);
    return;
  }
  if (delayedCount_ > 0) {
    // Answers leave in the order their commands came.
    Delay(response_.data(), response_.size(), NowMs());
    return;
  }
  SendInput(response_.data(), response_.size());
}

void HidBusDevice::DeliverHeld(const uint8_t* message, size_t size) {
  if (!plugged_) return;
  if (delayedCount_ > 0) {
    // Answers leave in the order their commands came.
    Delay(message, size, NowMs());
    return;
  }
  SendInput(message, size);
}

void HidBusDevice::Delay(const uint8_t* message, size_t size, uint64_t dueMs) {
  if (delayedCount_ == kMaxDelayed) {
    ++counters_.dropped;
    reader_->log().Note(name(), "WARN", "too many delayed answers: answer dropped");
    return;
  }
  Delayed& d = delayed_[(delayedHead_ + delayedCount_) % kMaxDelayed];
  // Keep the due times ordered: an answer never overtakes an earlier one.
  if (delayedCount_ > 0) {
    const Delayed& last = delayed_[(delayedHead_ + delayedCount_ - 1) % kMaxDelayed];
    if (dueMs < last.dueMs) dueMs = last.dueMs;
  }
  d.dueMs = dueMs;
  d.size = size;
  std::memcpy(d.message, message, size);
  ++delayedCount_;
  if (delayedCount_ == 1) {
    uint64_t now = NowMs();
    delayTimer_.Start(static_cast<uint32_t>(dueMs > now ? dueMs - now : 0));
  }
}

void HidBusDevice::OnDelayedDue() {
  uint64_t now = NowMs();
  while (delayedCount_ > 0 && plugged_) {
    Delayed& d = delayed_[delayedHead_];
    if (d.dueMs > now) {
      delayTimer_.Start(static_cast<uint32_t>(d.dueMs - now));
      return;
    }
    delayedHead_ = (delayedHead_ + 1) % kMaxDelayed;
    --delayedCount_;
    SendInput(d.message, d.size);
  }
}

void HidBusDevice::SendInput(const uint8_t* message, size_t size) {
  FaultPlan& faults = reader_->faults();
  InputForm form = InputForm::kNormal;
  if (faults.Take(FaultKind::kReportIdZero)) {
    form = InputForm::kRawIdZero;
    reader_->log().Note(name(), "FAULT", "report-id-0");
  } else if (faults.Take(FaultKind::kZeroLength)) {
    form = InputForm::kZeroLength;
    reader_->log().Note(name(), "FAULT", "zero-length");
  } else if (faults.Take(FaultKind::kLongLength)) {
    form = InputForm::kLongLength;
    reader_->log().Note(name(), "FAULT", "long-length");
  }
  bool cut = false;
  size_t length = BuildInputReport(message, size, form, report_, inputLength_, &cut);
  if (cut)
    reader_->log().Note(name(), "WARN", "response of %zu bytes cut to fit a %zu-byte report", size,
                        inputLength_);
  reader_->log().Bytes(name(), "TX", report_, length);
  ++counters_.reportsOut;
  for (Connection& c : connections_) {
    if (c.state != Connection::State::kReports) continue;
    ssize_t n = send(c.fd, report_, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(length)) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Like a full hidraw ring: a host that does not read loses reports.
      ++counters_.dropped;
      reader_->log().Note(name(), "WARN", "host=%u not reading: report dropped", c.number);
      continue;
    }
    CloseConnection(&c, "send failed");
  }
}

}  // namespace q7msim
