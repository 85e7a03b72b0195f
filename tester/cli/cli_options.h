// rigtool-cli's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace q7m::rigtool {

struct CliOptions {
  std::string port;   // "USB" or "COMn"
  std::string field;  // the serial number or the baud rate, as typed
  std::string listFile;
  std::vector<size_t> rows;  // 1-based, in the order given
  std::string callApi;
  std::vector<std::string> callParams;  // up to four
  bool asynchronous = true;
  int loops = 1;
  int errorStop = 0;
  bool timeStamps = true;
  bool logging = true;
  bool getResult = false;
  std::string logFile;
  bool help = false;
};

// Parses the arguments after the program name. False with a message that
// names the offending argument.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error);

// The --help text.
const char* CliUsage();

}  // namespace q7m::rigtool
