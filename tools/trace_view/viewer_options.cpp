#include "viewer_options.h"

#include <cerrno>
#include <cstdlib>

#include "q7m/trace/record_layout.h"

namespace q7m::traceview {

namespace {

// A decimal number, or a hex one with 0x; the whole text must be used.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  int base = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || end == text.c_str() || *end != 0 || v > max) return false;
  *value = v;
  return true;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!item.empty()) items.push_back(item);
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

bool AddIds(const std::string& option, const std::string& value, std::vector<uint32_t>* ids,
            std::string* error) {
  auto items = SplitList(value);
  if (items.empty()) {
    *error = option + " needs a number";
    return false;
  }
  for (const auto& item : items) {
    uint64_t id = 0;
    if (!ParseNumber(item, 0xFFFFFFFFu, &id)) {
      *error = option + ": '" + item + "' is not a number (decimal, or hex with 0x)";
      return false;
    }
    ids->push_back(static_cast<uint32_t>(id));
  }
  return true;
}

// Options that take a value, by their long name.
bool TakesValue(const std::string& name) {
  return name == "last" || name == "pid" || name == "tid" || name == "lib" || name == "grep" ||
         name == "since" || name == "until" || name == "record-length" || name == "color";
}

std::string LongName(char shortName) {
  switch (shortName) {
    case 'f':
      return "follow";
    case 'n':
      return "last";
    case 'p':
      return "pid";
    case 't':
      return "tid";
    case 'l':
      return "lib";
    case 'g':
      return "grep";
    case 'r':
      return "record-length";
    case 'h':
      return "help";
    default:
      return "";
  }
}

bool Apply(const std::string& name, const std::string& value, ViewerOptions* o,
           std::string* error) {
  if (name == "follow") {
    o->follow = true;
  } else if (name == "help") {
    o->help = true;
  } else if (name == "raw") {
    o->style.raw = true;
  } else if (name == "hex-ids") {
    o->style.hexIds = true;
  } else if (name == "last") {
    uint64_t n = 0;
    if (!ParseNumber(value, UINT64_MAX, &n)) {
      *error = "--last: '" + value + "' is not a number";
      return false;
    }
    o->last = n;
  } else if (name == "pid") {
    return AddIds("--pid", value, &o->filter.processIds, error);
  } else if (name == "tid") {
    return AddIds("--tid", value, &o->filter.threadIds, error);
  } else if (name == "lib") {
    auto items = SplitList(value);
    if (items.empty()) {
      *error = "--lib needs a prefix such as RDAX, SEQUOR, T: or E:";
      return false;
    }
    for (const auto& item : items) o->filter.prefixes.push_back(NormalisePrefix(item));
  } else if (name == "grep") {
    o->filter.contains.push_back(value);
  } else if (name == "since" || name == "until") {
    auto point = ParseTimePoint(value, name == "until");
    if (!point) {
      *error = "--" + name + ": '" + value +
               "' is not a time (YYYY-MM-DD HH:MM:SS, YYYYMMDDhhmmss or HH:MM[:SS])";
      return false;
    }
    (name == "since" ? o->filter.since : o->filter.until) = point;
  } else if (name == "record-length") {
    uint64_t n = 0;
    if (!ParseNumber(value, trace::kMaxTextLength, &n)) {
      *error = "--record-length: '" + value + "' is not a record length (0 to " +
               std::to_string(trace::kMaxTextLength) + ")";
      return false;
    }
    o->recordLength = static_cast<uint32_t>(n);
  } else if (name == "color" || name == "colour") {
    if (value == "auto") {
      o->color = ColorMode::kAuto;
    } else if (value == "always") {
      o->color = ColorMode::kAlways;
    } else if (value == "never") {
      o->color = ColorMode::kNever;
    } else {
      *error = "--color: '" + value + "' is not one of auto, always, never";
      return false;
    }
  } else {
    *error = "unknown option --" + name;
    return false;
  }
  return true;
}

}  // namespace

bool ParseViewerOptions(const std::vector<std::string>& args, ViewerOptions* o,
                        std::string* error) {
  std::vector<std::string> files;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name, value;
    bool hasValue = false;
    if (arg[1] == '-') {
      name = arg.substr(2);
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        hasValue = true;
      }
    } else {
      name = LongName(arg[1]);
      if (name.empty()) {
        *error = "unknown option " + arg.substr(0, 2);
        return false;
      }
      if (arg.size() > 2) {
        if (!TakesValue(name)) {
          *error = "option -" + arg.substr(1, 1) + " takes no value";
          return false;
        }
        value = arg.substr(2);
        hasValue = true;
      }
    }
    if (name == "colour") name = "color";
    if (TakesValue(name) && !hasValue) {
      if (i + 1 >= args.size()) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      value = args[++i];
    } else if (!TakesValue(name) && hasValue && arg[1] == '-') {
      *error = "option --" + name + " takes no value";
      return false;
    }
    if (!Apply(name, value, o, error)) return false;
  }
  if (o->help) return true;
  if (files.size() != 1) {
    *error = files.empty() ? "no trace file given" : "only one trace file at a time";
    return false;
  }
  o->path = files[0];
  return true;
}

const char* ViewerUsage() {
  return R"(Usage: q7m-trace [OPTION]... FILE
Shows the records of a trace ring, oldest first, across the wrap.

  -f, --follow             keep watching and show records as they are written
  -n, --last N             show only the newest N matching records
  -p, --pid ID[,ID...]     only records of these processes
  -t, --tid ID[,ID...]     only records of these threads
  -l, --lib PREFIX[,...]   only lines starting with PREFIX: RDAX, SEQUOR, T:, F:,
                           E:, I:, CMD:, RES:, S:, R: ... (the colon is optional,
                           case does not matter)
  -g, --grep TEXT          only lines containing TEXT
      --since TIME         only records written at or after TIME
      --until TIME         only records written at or before TIME
                           TIME: 2024-05-01 12:30:00, 2024-05-01, 20240501123000,
                           or 12:30[:00] on the day of the newest record
  -r, --record-length L    text characters per record, when the file cannot tell
      --raw                print records exactly as stored
      --hex-ids            show process and thread ids in hex, as stored
      --color WHEN         auto (default: on a terminal), always, never
  -h, --help               show this help

Ids are decimal, or hex with 0x. Options of one kind may be repeated; a record
is shown when it matches one value of every kind given.

Output columns: sequence, date, time, process, thread, text. Control bytes in
a text are shown as \r, \n, \t, \0 or \xHH.

Exit status: 0 success, 1 the file cannot be read or is not a trace ring,
2 usage error.
)";
}

}  // namespace q7m::traceview
