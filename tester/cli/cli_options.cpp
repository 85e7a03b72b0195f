#include "cli_options.h"

#include <cstdint>

namespace q7m::rigtool {
namespace {

constexpr size_t kMaxParams = 4;

// The loop and error-stop fields take digits only, 0..2147483647.
bool ParseCount(const std::string& text, int* value) {
  if (text.empty() || text.size() > 10) return false;
  int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > INT32_MAX) return false;
  *value = static_cast<int>(n);
  return true;
}

bool ParseDevice(const std::string& text, CliOptions* options) {
  const size_t colon = text.find(':');
  const std::string port = text.substr(0, colon);
  options->field = colon == std::string::npos ? "" : text.substr(colon + 1);
  if (port == "USB") {
    options->port = port;
    return true;
  }
  if (port.size() < 4 || port.compare(0, 3, "COM") != 0) return false;
  for (size_t i = 3; i < port.size(); ++i) {
    if (port[i] < '0' || port[i] > '9') return false;
  }
  options->port = port;
  return true;
}

bool ParseRows(const std::string& text, std::vector<size_t>* rows) {
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    int row = 0;
    if (!ParseCount(text.substr(start, comma - start), &row) || row == 0) return false;
    rows->push_back(static_cast<size_t>(row));
    start = comma + 1;
  }
  return !rows->empty();
}

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions* options,
                     std::string* error) {
  bool haveDevice = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      return true;
    } else if (arg == "--device") {
      if (!value(&text)) return false;
      if (!ParseDevice(text, options)) {
        *error = "--device " + text + ": expected USB, USB:SERIAL, COMn or COMn:BAUD";
        return false;
      }
      haveDevice = true;
    } else if (arg == "--list") {
      if (!value(&options->listFile)) return false;
    } else if (arg == "--rows") {
      if (!value(&text)) return false;
      if (!ParseRows(text, &options->rows)) {
        *error = "--rows " + text + ": expected row numbers from 1, separated by commas";
        return false;
      }
    } else if (arg == "--call") {
      if (!value(&options->callApi)) return false;
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
        if (options->callParams.size() == kMaxParams) {
          *error = "--call takes at most four parameters: " + args[i + 1];
          return false;
        }
        options->callParams.push_back(args[++i]);
      }
    } else if (arg == "--sync") {
      options->asynchronous = false;
    } else if (arg == "--async") {
      options->asynchronous = true;
    } else if (arg == "--loop" || arg == "--error-stop") {
      if (!value(&text)) return false;
      if (!ParseCount(text, arg == "--loop" ? &options->loops : &options->errorStop)) {
        *error = arg + " " + text + ": expected an integer between 0 and 2147483647";
        return false;
      }
    } else if (arg == "--no-timestamps") {
      options->timeStamps = false;
    } else if (arg == "--no-log") {
      options->logging = false;
    } else if (arg == "--get-result") {
      options->getResult = true;
    } else if (arg == "--log") {
      if (!value(&options->logFile)) return false;
      if (options->logFile.empty()) {
        *error = "--log needs a file name";
        return false;
      }
    } else {
      *error = "unknown argument " + arg;
      return false;
    }
  }
  if (!haveDevice) {
    *error = "--device is required";
    return false;
  }
  if (options->listFile.empty() == options->callApi.empty()) {
    *error = "give exactly one of --list and --call";
    return false;
  }
  if (!options->rows.empty() && options->listFile.empty()) {
    *error = "--rows needs --list";
    return false;
  }
  return true;
}

const char* CliUsage() {
  return R"(Usage: rigtool-cli --device DEV (--list FILE.lst [--rows N,N...] | --call API [P1 [P2 [P3 [P4]]]])
                   [--sync|--async] [--loop N] [--error-stop N] [--no-timestamps]
                   [--no-log] [--get-result] [--log FILE] [--help]

Opens a card reader as RigTool's OpenDevice button does, runs a command list
or one API call, and writes RigTool's log to standard output (CR LF line
ends). Message boxes go to standard error as "CAPTION: TEXT"; questions are
answered Yes. The reader is closed at the end.

  --device DEV      the reader: USB (first USB reader), USB:SERIAL (the USB
                    reader with that serial number), COMn (serial port, the
                    default speed) or COMn:BAUD (speed in decimal, 0x hex or
                    0 octal).        e.g. --device COM3:38400
  --list FILE.lst   load the command list and press Run All.
                                     e.g. --list demo.lst
  --rows N,N...     with --list: select these rows (from 1) and press Run 1x
                    instead.         e.g. --rows 1,3
  --call API [P1..P4]
                    choose API by its name, fill the parameter boxes, press
                    Execute. A parameter that is the exact label of its box's
                    list counts as that entry picked; anything else is typed.
                                     e.g. --call ReadMagTrack "ISO1 AND ISO3"
                                          --call SendCommand C00 5 5
  --sync            synchronous mode. e.g. --sync
  --async           asynchronous mode (the default). e.g. --async
  --loop N          passes of Run All, 0..2147483647 (default 1).
                                     e.g. --loop 10
  --error-stop N    end a list run after N failing calls (default 0: never).
                                     e.g. --error-stop 2
  --no-timestamps   no time line in the command blocks.
                                     e.g. --no-timestamps
  --no-log          uncheck Enable Logging: the log stays empty.
                                     e.g. --no-log
  --get-result      press GetResult once after the run; a single call's exit
                    status then follows its answer.  e.g. --get-result
  --log FILE        also append the log to FILE (created when missing).
                                     e.g. --log Q7MDATA.LOG
  --help            this text.       e.g. --help

Exit status: 0 the list ran out of rows, or the call's result (or GetResult's
answer) is a success code; 1 Error Stop ended the run, a call could not be
made, an asynchronous wait failed, or the call's result is a warning, error
or fatal code; 2 a usage error, an unreadable list, an unknown API name or a
failed OpenDevice.
)";
}

}  // namespace q7m::rigtool
