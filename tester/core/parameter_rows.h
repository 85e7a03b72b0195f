// What the four parameter rows of each API show: the row's label, the kind
// of text it takes and the value table its box offers.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "api_list.h"

namespace q7m::rigtool {

struct ValueEntry {
  std::string_view label;
  uint32_t number;
};
using ValueTable = std::span<const ValueEntry>;

enum class ParamKind { kNone, kNumber, kData, kText };

struct ParamRow {
  std::string_view label;  // "" for a row the API does not use ("<NONE>")
  ParamKind kind = ParamKind::kNone;
  ValueTable table;  // empty for free text
};

constexpr std::string_view kNoParameter = "<NONE>";

// The four rows of an API index (all unused outside the list).
const std::array<ParamRow, 4>& ParamRowsOf(int apiIndex);

// The label shown for a row: its name, or "<NONE>".
std::string_view RowLabel(const ParamRow& row);

// Whether row `row` (0..3) of an API has its "..." file button enabled: only
// the file name of ExecuteDownload does.
bool RowTakesAFile(int apiIndex, size_t row);

// A box's resolved text when the entry `label` of its table is picked: the
// entry's number in decimal. Empty when the table has no such label.
std::string PickedEntryText(const ParamRow& row, std::string_view label);

}  // namespace q7m::rigtool
