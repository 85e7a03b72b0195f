// Parser of registry files in the Windows .reg text format. It turns the
// text into the sequence of edits the file describes (key opened, key
// deleted, value set, value deleted); a consumer applies them in order. Kept
// apart from file access so it can be fed arbitrary bytes (tests, fuzzing).
//
// Understood:
//  - the header line "Windows Registry Editor Version 5.00" or "REGEDIT4"
//    (a file without one is not a registry file and yields nothing);
//  - UTF-16LE files with a byte-order mark (what regedit writes), UTF-8
//    with or without a mark;
//  - [ROOT\sub\key] and [-ROOT\sub\key], with the roots HKEY_CLASSES_ROOT,
//    HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS and their short
//    forms HKCR, HKCU, HKLM, HKU (any case);
//  - "name"="text" (REG_SZ; \\ and \" are escapes, any other backslash is
//    taken literally so hand-written paths survive), "name"=dword:1f
//    (REG_DWORD, 1 to 8 hex digits), @ for the default value, "name"=- to
//    delete a value;
//  - ';' comment lines and blank lines.
// Other value kinds (hex:, hex(n):, ...) are skipped, with their
// continuation lines. Malformed lines are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace q7m::platform {

class RegEditSink {
 public:
  virtual ~RegEditSink() = default;
  // Values that follow belong to this key. `subKey` is normalised: its
  // parts joined by single backslashes, no backslash at either end.
  virtual void OnKey(uint32_t root, std::string_view subKey) = 0;
  // The key and everything below it are removed; values that follow are
  // ignored until the next key line.
  virtual void OnDeleteKey(uint32_t root, std::string_view subKey) = 0;
  // A value of the current key. `data`: the text plus its terminating zero
  // for REG_SZ, 4 little-endian bytes for REG_DWORD. Name "" is the default.
  virtual void OnValue(std::string_view name, uint32_t type, std::string_view data) = 0;
  virtual void OnDeleteValue(std::string_view name) = 0;
};

// The text of a file as UTF-8: UTF-16LE (with its mark) is converted, a
// UTF-8 mark is removed, anything else is returned unchanged.
std::string RegFileTextToUtf8(std::string_view raw);

// Parses UTF-8 .reg text. False when the header is missing (nothing was
// reported then).
bool ParseRegText(std::string_view text, RegEditSink* sink);

// Root constant (Q7M_HKEY_*) for a root name, full or short, any case; 0
// when unknown.
uint32_t RegRootFromName(std::string_view name);

// `subKey` normalised as OnKey delivers it: empty parts (doubled, leading
// or trailing backslashes) are dropped.
std::string NormaliseRegSubKey(std::string_view subKey);

}  // namespace q7m::platform
