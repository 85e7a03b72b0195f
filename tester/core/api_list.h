// The APIs RigTool offers, in the order of its API list. An entry's position
// is its API index: the selector of the call table, the detail lines and
// the row data of command-list rows.
#pragma once

#include <array>
#include <string_view>

namespace q7m::rigtool {

constexpr int kApiCount = 45;

// Positions the core refers to by name.
enum ApiIndex : int {
  kGetStatus = 1,
  kReadMagTrack = 5,
  kActivateContactless = 20,
  kTypeBAttribute = 25,
  kExecuteDownload = 41,
  kLogErrorData = 42,
  kSendCommand = 43,
};

// The list's names, without the library prefix.
const std::array<std::string_view, kApiCount>& ApiNames();

// The name of an API index ("" outside the list).
std::string_view ApiName(int index);

// The exact entry of `name`, or -1.
int ApiIndexOfName(std::string_view name);

// The list files' lookup: the first entry whose name contains `text`
// (case-sensitive), so "" finds entry 0; -1 when no entry contains it.
int ApiIndexContaining(std::string_view text);

}  // namespace q7m::rigtool
