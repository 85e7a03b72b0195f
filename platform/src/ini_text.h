// The INI text model behind the private-profile functions: a forward scan
// over the lines of a file held in memory. Kept apart from file access so it
// can be fed arbitrary bytes (tests, fuzzing) and never allocates per line.
#pragma once

#include <string_view>
#include <vector>

namespace q7m::platform {

struct IniLine {
  enum class Kind { kSection, kEntry, kOther };
  Kind kind = Kind::kOther;
  std::string_view name;   // section or key name, blanks trimmed
  std::string_view value;  // entry value, blanks trimmed, quotes kept
};

// Splits INI text into lines (LF, CR LF or CR) and classifies them:
//  - "[name]" (up to the last ']' of the line) starts a section; a line
//    that opens with '[' but has no ']' is read like any other line;
//  - "key = value" (split at the first '=') is an entry;
//  - everything else (blank lines, ';' comments, lines without '=') is
//    kOther and carries no meaning.
// A UTF-8 byte-order mark at the start is skipped; a NUL byte ends its line.
class IniScanner {
 public:
  explicit IniScanner(std::string_view text);
  bool Next(IniLine* line);

 private:
  std::string_view rest_;
};

// ASCII comparison without regard to case (section, key and value names).
bool NamesEqualNoCase(std::string_view a, std::string_view b);
// Removes blanks (space, tab, CR, LF, VT, FF and the Ctrl-Z of old editors)
// from both ends.
std::string_view TrimBlanks(std::string_view text);
// Removes trailing blanks only.
std::string_view TrimTrailingBlanks(std::string_view text);
// One pair of matching surrounding quotes (" or ') removed, as the Win32
// profile reader does.
std::string_view StripQuotes(std::string_view value);

// The value of `key` in the first section named `section` (names compared
// without case, requested names trimmed). The first matching key wins.
// Entries before the first section header belong to a section named "".
bool FindIniValue(std::string_view text, std::string_view section, std::string_view key,
                  std::string_view* value);
// All section names in file order (those with an empty name left out).
void ListIniSections(std::string_view text, std::vector<std::string_view>* names);
// All key names of the first section named `section`, in file order.
void ListIniKeys(std::string_view text, std::string_view section,
                 std::vector<std::string_view>* names);

}  // namespace q7m::platform
