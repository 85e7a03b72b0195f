// The wire log: every byte and every message on every link, one line per
// event, so a test or an engineer can see exactly what crossed the line.
//
// Line format: "<seconds.millis> <reader> <TAG> <details>", tags:
//   RX / TX     raw bytes received from / sent to the host, in hexadecimal
//   CMD / RSP   a command message taken / a response message produced:
//               "<length> <hex> |<printable>|"
//   LINK        link events (ACK, NAK, ENQ, EOT, OPEN, CLOSE, UNPLUG, ...)
//   FAULT       an injected fault that fired
//   WARN        the host broke the link protocol (bad BCC, bad report, ...)
//   MARK        a marker written through the control socket
// Every line is flushed at once, so a reader of the file sees it immediately.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace q7msim {

class WireLog {
 public:
  WireLog();
  ~WireLog();
  WireLog(const WireLog&) = delete;
  WireLog& operator=(const WireLog&) = delete;

  // Appends to `path`; false with a reason when it cannot be opened.
  bool Open(const std::string& path, std::string* error);
  void Close();
  bool enabled() const { return file_ != nullptr; }

  // Raw bytes in hexadecimal. Trailing zero bytes beyond the first are
  // summarised as "+N*00" (HID reports are padded with zeros).
  void Bytes(const char* reader, const char* tag, const uint8_t* data, size_t size);
  // A message: length, hexadecimal and printable form.
  void Message(const char* reader, const char* tag, const uint8_t* data, size_t size);
  void Note(const char* reader, const char* tag, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

 private:
  void Prefix(const char* reader, const char* tag);
  void Hex(const uint8_t* data, size_t size);
  FILE* file_ = nullptr;
  uint64_t startNs_ = 0;
};

}  // namespace q7msim
