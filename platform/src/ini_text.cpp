#include "ini_text.h"

#include <cstring>

namespace q7m::platform {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool NamesEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimTrailingBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return TrimTrailingBlanks(text);
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

IniScanner::IniScanner(std::string_view text) : rest_(text) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (rest_.substr(0, kUtf8Bom.size()) == kUtf8Bom) rest_.remove_prefix(kUtf8Bom.size());
}

bool IniScanner::Next(IniLine* line) {
  if (rest_.empty()) return false;
  size_t end = rest_.find_first_of("\r\n");
  std::string_view raw = rest_.substr(0, end);
  rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);

  // Text after a NUL byte is not reachable by any C string reader of the
  // file, so it is not part of the line either.
  if (const void* nul = std::memchr(raw.data(), '\0', raw.size())) {
    raw = raw.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - raw.data()));
  }
  raw = TrimBlanks(raw);

  *line = IniLine{};
  if (raw.empty() || raw.front() == ';') return true;
  if (raw.front() == '[') {
    size_t close = raw.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      line->kind = IniLine::Kind::kSection;
      line->name = TrimBlanks(raw.substr(1, close - 1));
      return true;
    }
  }
  size_t eq = raw.find('=');
  if (eq != std::string_view::npos) {
    line->kind = IniLine::Kind::kEntry;
    line->name = TrimBlanks(raw.substr(0, eq));
    line->value = TrimBlanks(raw.substr(eq + 1));
  }
  return true;
}

namespace {

// Calls `onEntry` for each entry of the first section named `section`.
template <typename OnEntry>
void ForEachEntryOfSection(std::string_view text, std::string_view section, OnEntry onEntry) {
  section = TrimBlanks(section);
  IniScanner scanner(text);
  IniLine line;
  // Entries before any header form the section with the empty name.
  bool inSection = section.empty();
  while (scanner.Next(&line)) {
    if (line.kind == IniLine::Kind::kSection) {
      // Only the first section of the name counts: a later duplicate is
      // invisible, as with the Win32 reader.
      if (inSection) return;
      inSection = NamesEqualNoCase(line.name, section);
    } else if (inSection && line.kind == IniLine::Kind::kEntry) {
      if (!onEntry(line)) return;
    }
  }
}

}  // namespace

bool FindIniValue(std::string_view text, std::string_view section, std::string_view key,
                  std::string_view* value) {
  key = TrimBlanks(key);
  bool found = false;
  ForEachEntryOfSection(text, section, [&](const IniLine& line) {
    if (!NamesEqualNoCase(line.name, key)) return true;
    *value = line.value;
    found = true;
    return false;
  });
  return found;
}

void ListIniSections(std::string_view text, std::vector<std::string_view>* names) {
  names->clear();
  IniScanner scanner(text);
  IniLine line;
  while (scanner.Next(&line)) {
    if (line.kind == IniLine::Kind::kSection && !line.name.empty()) names->push_back(line.name);
  }
}

void ListIniKeys(std::string_view text, std::string_view section,
                 std::vector<std::string_view>* names) {
  names->clear();
  ForEachEntryOfSection(text, section, [&](const IniLine& line) {
    names->push_back(line.name);
    return true;
  });
}

}  // namespace q7m::platform
