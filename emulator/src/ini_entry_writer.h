// Writes one "key=value" entry into an INI file and keeps everything else in
// it as it was: other sections, other keys, comments, blank lines and the
// file's line ending. Used to point a COM port's DevicePath at the emulator's
// pseudo-terminal.
#pragma once

#include <string>
#include <string_view>

namespace q7msim {

// Rewrites `text` (an INI file's content): the first section named `section`
// (compared without regard to case) gets `key` set to `value`, replacing the
// first line of that key there, or adding one at the end of the section; a
// missing section is appended.
std::string SetIniEntry(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);

// Reads `path` (a missing file counts as empty), applies SetIniEntry and
// replaces the file atomically. False with a reason on failure.
bool WriteIniEntry(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value, std::string* error);

}  // namespace q7msim
