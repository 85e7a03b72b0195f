// q7m-exchange: sends reader command messages through the execution service
// and prints each response. An engineer's quick check that a reader (or the
// emulator) answers, end to end through every layer of the stack.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "q7m/platform.h"
#include "q7m/sequor.h"

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: q7m-exchange [--speed BPS] [--timeout SECONDS] DEVICE COMMAND...\n"
               "\n"
               "Opens DEVICE (COM1..COM9 for a serial reader, a USB serial number, or\n"
               "USB for the first USB reader found) and sends each COMMAND as one reader\n"
               "command message, printing the response. \\xHH in a command stands for the\n"
               "byte HH. Example: q7m-exchange COM3 C00 CV0 C10\n"
               "\n"
               "exit status: 0 every exchange answered, 1 an exchange failed, 2 usage or\n"
               "open error\n");
}

// Command text with \xHH escapes -> bytes; false on a malformed escape.
bool Unescape(const char* text, std::string* bytes) {
  bytes->clear();
  for (size_t i = 0; text[i] != '\0'; ++i) {
    if (text[i] == '\\' && text[i + 1] == 'x') {
      char hex[3] = {text[i + 2], text[i + 2] ? text[i + 3] : '\0', '\0'};
      char* end = nullptr;
      long value = std::strtol(hex, &end, 16);
      if (hex[0] == '\0' || hex[1] == '\0' || end != hex + 2) return false;
      bytes->push_back(static_cast<char>(value));
      i += 3;
    } else {
      bytes->push_back(text[i]);
    }
  }
  return true;
}

// Printable text, other bytes as \xHH.
std::string Printable(const char* data, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

bool ParseNumber(const char* text, uint32_t* value) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || v > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t speed = 0;
  uint32_t timeout = 5;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      Usage(stdout);
      return 0;
    }
    if ((option == "--speed" || option == "--timeout") && i + 1 < argc) {
      if (!ParseNumber(argv[++i], option == "--speed" ? &speed : &timeout)) {
        std::fprintf(stderr, "q7m-exchange: %s needs a number\n", option.c_str());
        return 2;
      }
      continue;
    }
    std::fprintf(stderr, "q7m-exchange: unknown option %s\n", option.c_str());
    Usage(stderr);
    return 2;
  }
  if (argc - i < 2) {
    Usage(stderr);
    return 2;
  }
  const std::string device = argv[i++];
  const SEQUOR_OPEN_PARAMS params{0, speed};
  // "USB" alone asks for the first USB reader found.
  SEQUOR_HANDLE session = SEQUOR_Open(device == "USB" ? nullptr : device.c_str(), &params);
  if (session == nullptr) {
    uint32_t error = Q7M_GetLastError();
    char text[256];
    Q7M_FormatMessage(error, text, sizeof text);
    std::fprintf(stderr, "q7m-exchange: cannot open %s: error %u: %s\n", device.c_str(), error,
                 text);
    return 2;
  }

  int status = 0;
  std::vector<char> response(4096);
  for (; i < argc; ++i) {
    std::string command;
    if (!Unescape(argv[i], &command)) {
      std::fprintf(stderr, "q7m-exchange: bad escape in %s\n", argv[i]);
      status = 2;
      break;
    }
    uint32_t length = 0;
    uint32_t result =
        SEQUOR_Execute(session, command.data(), static_cast<uint32_t>(command.size()), timeout,
                       response.data(), static_cast<uint32_t>(response.size()), &length,
                       timeout, nullptr);
    std::printf("> %s\n", Printable(command.data(), command.size()).c_str());
    if (result == SEQUOR_SUCCESS) {
      std::printf("< %s\n", Printable(response.data(), length).c_str());
    } else {
      std::printf("! exchange failed with result %u (last error %u)\n", result,
                  Q7M_GetLastError());
      status = 1;
    }
  }
  SEQUOR_Close(session);
  return status;
}
