#include "sim_options.h"

#include "control_commands.h"
#include "text_util.h"

namespace q7msim {

namespace {

// A word with blanks travels in quotes, so the emulator gets it as one
// (track data with blanks, for instance); " and \ inside are escaped.
std::string QuotedIfBlank(const std::string& word) {
  if (word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

bool TakeValue(const std::vector<std::string>& args, size_t* i, const std::string& option,
               std::string* value, std::string* error) {
  // "--opt=value" or "--opt value".
  const std::string& arg = args[*i];
  if (arg.size() > option.size() && arg[option.size()] == '=') {
    *value = arg.substr(option.size() + 1);
    return true;
  }
  if (*i + 1 >= args.size()) {
    *error = option + " needs a value";
    return false;
  }
  *value = args[++*i];
  return true;
}

bool Is(const std::string& arg, const std::string& option) {
  return arg == option || (arg.size() > option.size() &&
                           arg.compare(0, option.size(), option) == 0 && arg[option.size()] == '=');
}

}  // namespace

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions* o, std::string* error) {
  if (!args.empty() && args[0] == "ctl") {
    o->mode = SimOptions::Mode::kControl;
    size_t i = 1;
    while (i < args.size() && Is(args[i], "--control")) {
      std::string value;
      if (!TakeValue(args, &i, "--control", &value, error)) return false;
      o->config.controlPath = value;
      o->controlGiven = true;
      ++i;
    }
    // Only the card's track data is read with quotes; every other command
    // takes the rest of its line as typed.
    const bool quoting = i < args.size() && args[i] == "insert";
    for (; i < args.size(); ++i) {
      if (!o->controlCommand.empty()) o->controlCommand += ' ';
      o->controlCommand += quoting ? QuotedIfBlank(args[i]) : args[i];
    }
    if (o->controlCommand.empty()) {
      *error = "ctl needs a command (try: q7m-sim ctl help)";
      return false;
    }
    return true;
  }

  auto lastReader = [&](const std::string& option) -> ReaderConfig* {
    if (o->config.readers.empty()) {
      *error = option + " must follow --serial or --usb";
      return nullptr;
    }
    return &o->config.readers.back();
  };

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    if (arg == "--help" || arg == "-h") {
      o->mode = SimOptions::Mode::kHelp;
      return true;
    }
    if (arg == "--list-fields") {
      o->mode = SimOptions::Mode::kListFields;
      return true;
    }
    if (arg == "--list-faults") {
      o->mode = SimOptions::Mode::kListFaults;
      return true;
    }
    if (arg == "--serial" || arg == "--usb" || Is(arg, "--serial") || Is(arg, "--usb")) {
      ReaderConfig reader;
      bool serial = arg.compare(0, 8, "--serial") == 0;
      reader.link = serial ? LinkKind::kSerial : LinkKind::kUsb;
      size_t eq = arg.find('=');
      reader.name = eq == std::string::npos ? "r" + std::to_string(o->config.readers.size() + 1)
                                            : arg.substr(eq + 1);
      if (reader.name.empty()) {
        *error = arg + ": empty reader name";
        return false;
      }
      o->config.readers.push_back(std::move(reader));
    } else if (Is(arg, "--set")) {
      ReaderConfig* reader = lastReader("--set");
      if (!reader || !TakeValue(args, &i, "--set", &value, error)) return false;
      size_t eq = value.find('=');
      if (eq == std::string::npos || eq == 0) {
        *error = "--set takes FIELD=VALUE";
        return false;
      }
      reader->settings.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    } else if (Is(arg, "--fault")) {
      ReaderConfig* reader = lastReader("--fault");
      if (!reader || !TakeValue(args, &i, "--fault", &value, error)) return false;
      reader->faults.push_back(value);
    } else if (Is(arg, "--pdlnk-ini")) {
      ReaderConfig* reader = lastReader("--pdlnk-ini");
      if (!reader || !TakeValue(args, &i, "--pdlnk-ini", &value, error)) return false;
      if (reader->link != LinkKind::kSerial) {
        *error = "--pdlnk-ini applies to serial readers";
        return false;
      }
      reader->pdlnkIni = value;
    } else if (Is(arg, "--com")) {
      ReaderConfig* reader = lastReader("--com");
      if (!reader || !TakeValue(args, &i, "--com", &value, error)) return false;
      uint64_t port = 0;
      if (!ParseUnsigned(value, 255, &port) || port == 0) {
        *error = "--com takes a port number from 1 to 255";
        return false;
      }
      reader->comPort = static_cast<unsigned>(port);
    } else if (Is(arg, "--scenario")) {
      if (!TakeValue(args, &i, "--scenario", &o->scenarioPath, error)) return false;
    } else if (Is(arg, "--control")) {
      if (!TakeValue(args, &i, "--control", &o->config.controlPath, error)) return false;
      o->controlGiven = true;
    } else if (arg == "--no-control") {
      o->config.control = false;
    } else if (Is(arg, "--log")) {
      if (!TakeValue(args, &i, "--log", &o->config.logPath, error)) return false;
      o->logGiven = true;
    } else if (Is(arg, "--seed")) {
      if (!TakeValue(args, &i, "--seed", &value, error)) return false;
      if (!ParseUnsigned(value, UINT64_MAX, &o->config.seed)) {
        *error = "--seed takes a number";
        return false;
      }
      o->seedGiven = true;
    } else {
      *error = "unknown option '" + arg + "' (try --help)";
      return false;
    }
  }
  if (o->config.readers.empty() && o->scenarioPath.empty()) {
    *error = "no reader: give --serial, --usb or --scenario (try --help)";
    return false;
  }
  return true;
}

std::string SimHelpText() {
  std::string text =
      "q7m-sim - emulates card readers of the Q7M family for the card-reader stack,\n"
      "on a serial line (a pseudo-terminal) or on the virtual HID bus.\n"
      "\n"
      "Usage:\n"
      "  q7m-sim [OPTIONS]                 run readers until SIGINT/SIGTERM or 'ctl quit'\n"
      "  q7m-sim ctl [--control PATH] CMD  send one control command to a running emulator\n"
      "\n"
      "Readers (repeat for several; options after one apply to it):\n"
      "  --serial[=NAME]       a reader on a new pseudo-terminal (default names r1, r2, ...)\n"
      "  --usb[=NAME]          a reader on the virtual HID bus, socket <NAME>.hid in\n"
      "                        $Q7M_HIDBUS_DIR (default /tmp/q7m-hidbus-<uid>)\n"
      "  --set FIELD=VALUE     set a field of the reader (see --list-fields), e.g.\n"
      "                        --set SerialNumber=123456 --set ProductId=83\n"
      "  --fault SPEC          arm a fault at start (see --list-faults), e.g.\n"
      "                        --fault 'nak count=2'\n"
      "  --pdlnk-ini FILE      serial: write [COM<n>] DevicePath=<pty> into FILE (other\n"
      "                        sections and keys stay as they are)\n"
      "  --com N               serial: the port number n for --pdlnk-ini (default 1)\n"
      "  --scenario FILE       readers, fields and faults from an INI file (below)\n"
      "\n"
      "General:\n"
      "  --control PATH        control socket (default $Q7M_SIM_CONTROL, else\n"
      "                        /tmp/q7m-sim-<uid>.ctl)\n"
      "  --no-control          no control socket\n"
      "  --log FILE            log every byte and message on every link to FILE\n"
      "  --seed N              seed of the random source of rate faults (default 1)\n"
      "  --list-fields         the fields of a reader and what they hold\n"
      "  --list-faults         the faults and where they apply\n"
      "  --help                this text\n"
      "\n"
      "On start q7m-sim prints one line per reader, 'reader <name> <serial|usb> <path>',\n"
      "then 'control <path>' and 'ready'. Point the stack at a reader:\n"
      "  serial: COMn with [COMn] DevicePath=<pty path> in PDLNK.INI (--pdlnk-ini does it)\n"
      "  USB:    the HID search finds bus devices when its bus directory is the same\n"
      "          $Q7M_HIDBUS_DIR; the defaults (vendor 0x0590, product 52) pass the\n"
      "          default filters; 'USB:<UsbSerial>' selects one reader.\n"
      "\n"
      "Commands answered from the reader model in this version: C00 reset, CV0/CV1/CV2\n"
      "versions, CUE serial and model number, CN0 capabilities, C10/C11 status (card\n"
      "position and chip contacts: CardPosition, ChipContact), CL0 sensor levels, CM0\n"
      "counters (they count what the reader does), CY0/CY6/CY7 chip standards,\n"
      "CP6/CP7/CP8/CN3 LED, and the cancel E. The other command codes (card\n"
      "transport, chip, contactless) and unknown codes are\n"
      "answered N with the UndefinedCommandError code (00). Answers on demand: the\n"
      "error, cancel-reply and reply faults (--list-faults).\n"
      "\n"
      "Security: CSX/CSa set tamper/rear-destroy detection (mode digit and the mask\n"
      "version as CV0 shows it at bytes 5-24), CSY/CSb report them, CXZ (with the mask\n"
      "version) recovers from a latched detection (fields Tampered, RearDestroyed;\n"
      "while one is latched with its mode on, card operations are refused with 0A/0B),\n"
      "CW9 sets the host watchdog (HostWatchdog: the reader resets itself when the\n"
      "host stays silent). Download: Cd3 announce, Cd0 start, Cd1 blocks, Cd2 end, in\n"
      "this order; the new firmware then shows in CV0 (docs/emulator.md).\n"
      "\n"
      "Serial line: the pty has no modem lines, no parity and no line errors. The\n"
      "reader checks the host's line settings as far as the pty shows them (speed =\n"
      "BaudRate, one stop bit, not odd parity, raw mode) and ignores the host while they\n"
      "differ (LineCheck=off turns this off). The dsr-off fault makes the reader go\n"
      "silent, as a reader without DSR would be; a host cannot see DSR drop on a pty.\n"
      "\n"
      "Control commands (q7m-sim ctl ...):\n";
  text += ControlCommandHelp();
  text +=
      "\n"
      "Scenario file:\n"
      "  [Simulator]\n"
      "  Readers=front,back        reader sections, in order (required)\n"
      "  Log=FILE  Control=PATH  Seed=N\n"
      "  [front]\n"
      "  Link=serial               serial or usb (required)\n"
      "  PdlnkIni=FILE  ComPort=N  serial: the PDLNK.INI entry to write\n"
      "  FIELD=VALUE               any field of --list-fields\n"
      "  Fault1=SPEC ... Fault32   faults armed at start\n"
      "Command-line options override [Simulator] keys; command-line readers follow the\n"
      "scenario's.\n"
      "\n"
      "Wire log lines: '<s.ms> <reader> <TAG> ...' with TAG RX/TX (raw bytes), CMD/RSP\n"
      "(messages), LINK (ACK, NAK, ENQ, EOT, OPEN, CLOSE, UNPLUG, ...), FAULT, WARN, MARK.\n"
      "\n"
      "The virtual HID bus protocol is described in docs/virtual-hid-bus.md.\n";
  return text;
}

}  // namespace q7msim
