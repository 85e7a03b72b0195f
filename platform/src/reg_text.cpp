#include "reg_text.h"

#include <array>

#include "ini_text.h"
#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

struct RootName {
  std::string_view name;
  uint32_t root;
};
constexpr std::array<RootName, 8> kRootNames{{
    {"HKEY_CLASSES_ROOT", Q7M_HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", Q7M_HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", Q7M_HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", Q7M_HKEY_USERS},
    {"HKCR", Q7M_HKEY_CLASSES_ROOT},
    {"HKCU", Q7M_HKEY_CURRENT_USER},
    {"HKLM", Q7M_HKEY_LOCAL_MACHINE},
    {"HKU", Q7M_HKEY_USERS},
}};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && NamesEqualNoCase(text.substr(0, prefix.size()), prefix);
}

// Reads a quoted string starting at text[0] == '"'. On success `out` holds
// the unescaped text and `text` is advanced past the closing quote.
bool ReadQuoted(std::string_view* text, std::string* out) {
  out->clear();
  std::string_view t = text->substr(1);
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (c == '\\' && i + 1 < t.size() && (t[i + 1] == '\\' || t[i + 1] == '"')) {
      out->push_back(t[++i]);
    } else if (c == '"') {
      *text = t.substr(i + 1);
      return true;
    } else {
      out->push_back(c);
    }
  }
  return false;
}

bool ParseDword(std::string_view digits, uint32_t* value) {
  digits = TrimBlanks(digits);
  if (digits.empty() || digits.size() > 8) return false;
  uint32_t v = 0;
  for (char c : digits) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

// Splits the text into lines; strips CR and trailing blanks, cuts at NUL.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}
  bool Next(std::string_view* line) {
    if (rest_.empty()) return false;
    size_t end = rest_.find('\n');
    std::string_view raw = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
    size_t nul = raw.find('\0');
    if (nul != std::string_view::npos) raw = raw.substr(0, nul);
    *line = TrimBlanks(raw);
    return true;
  }

 private:
  std::string_view rest_;
};

class RegParser {
 public:
  explicit RegParser(RegEditSink* sink) : sink_(sink) {}

  bool Parse(std::string_view text) {
    LineReader lines(text);
    std::string_view line;
    bool headerSeen = false;
    while (lines.Next(&line)) {
      if (line.empty()) continue;
      if (!headerSeen) {
        if (!NamesEqualNoCase(line, "Windows Registry Editor Version 5.00") &&
            !NamesEqualNoCase(line, "REGEDIT4")) {
          return false;
        }
        headerSeen = true;
        continue;
      }
      if (line.front() == ';') continue;
      if (line.front() == '[') {
        KeyLine(line);
        continue;
      }
      ValueLine(line, &lines);
    }
    return headerSeen;
  }

 private:
  void KeyLine(std::string_view line) {
    inKey_ = false;
    size_t close = line.rfind(']');
    if (close == std::string_view::npos || close == 0) return;
    std::string_view path = TrimBlanks(line.substr(1, close - 1));
    bool remove = !path.empty() && path.front() == '-';
    if (remove) path = TrimBlanks(path.substr(1));
    size_t sep = path.find('\\');
    uint32_t root = RegRootFromName(path.substr(0, sep));
    if (root == 0) return;
    std::string subKey = NormaliseRegSubKey(sep == std::string_view::npos ? std::string_view()
                                                                          : path.substr(sep + 1));
    if (remove) {
      sink_->OnDeleteKey(root, subKey);
    } else {
      sink_->OnKey(root, subKey);
      inKey_ = true;
    }
  }

  void ValueLine(std::string_view line, LineReader* lines) {
    std::string_view rest = line;
    std::string name;
    bool nameOk = false;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
      nameOk = true;
    } else if (rest.front() == '"') {
      nameOk = ReadQuoted(&rest, &name);
    }
    rest = TrimBlanks(rest);
    if (!nameOk || rest.empty() || rest.front() != '=') return;
    std::string_view data = TrimBlanks(rest.substr(1));

    // Binary kinds span lines ending in a backslash; consume them even when
    // the line is not one we use, or the continuation would be misread.
    if (StartsWithNoCase(data, "hex")) {
      std::string_view more = data;
      while (!more.empty() && more.back() == '\\' && lines->Next(&more)) {
      }
      return;
    }
    if (!inKey_) return;
    if (data == "-") {
      sink_->OnDeleteValue(name);
    } else if (!data.empty() && data.front() == '"') {
      std::string text;
      std::string_view after = data;
      if (!ReadQuoted(&after, &text) || !TrimBlanks(after).empty()) return;
      text.push_back('\0');
      sink_->OnValue(name, Q7M_REG_SZ, text);
    } else if (StartsWithNoCase(data, "dword:")) {
      uint32_t v = 0;
      if (!ParseDword(data.substr(6), &v)) return;
      const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                             static_cast<char>((v >> 16) & 0xFF),
                             static_cast<char>((v >> 24) & 0xFF)};
      sink_->OnValue(name, Q7M_REG_DWORD, std::string_view(bytes, 4));
    }
  }

  RegEditSink* sink_;
  bool inKey_ = false;
};

}  // namespace

std::string RegFileTextToUtf8(std::string_view raw) {
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
      static_cast<unsigned char>(raw[1]) == 0xFE) {
    std::string out;
    out.reserve(raw.size() / 2);
    auto unit = [&](size_t i) {
      return static_cast<uint32_t>(static_cast<unsigned char>(raw[i])) |
             (static_cast<uint32_t>(static_cast<unsigned char>(raw[i + 1])) << 8);
    };
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
      uint32_t u = unit(i);
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < raw.size()) {
        uint32_t low = unit(i + 2);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), &out);
          i += 2;
          continue;
        }
      }
      if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;  // an unpaired surrogate
      AppendUtf8(u, &out);
    }
    return out;
  }
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (raw.substr(0, kUtf8Bom.size()) == kUtf8Bom) raw.remove_prefix(kUtf8Bom.size());
  return std::string(raw);
}

bool ParseRegText(std::string_view text, RegEditSink* sink) {
  return RegParser(sink).Parse(text);
}

uint32_t RegRootFromName(std::string_view name) {
  name = TrimBlanks(name);
  for (const RootName& r : kRootNames) {
    if (NamesEqualNoCase(name, r.name)) return r.root;
  }
  return 0;
}

std::string NormaliseRegSubKey(std::string_view subKey) {
  std::string out;
  out.reserve(subKey.size());
  size_t start = 0;
  while (start <= subKey.size()) {
    size_t end = subKey.find('\\', start);
    if (end == std::string_view::npos) end = subKey.size();
    if (end > start) {
      if (!out.empty()) out.push_back('\\');
      out.append(subKey.substr(start, end - start));
    }
    start = end + 1;
  }
  return out;
}

}  // namespace q7m::platform
