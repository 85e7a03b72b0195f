// The *.lst files of the command list: a line per row, each of its five
// texts followed by "|", then CR LF.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "command_list.h"
#include "tool_ui.h"

namespace q7m::rigtool {

struct ListLine {
  std::string name;
  std::array<std::string, 4> params;
};

// Splits one line (its line end included or not). Text after the fifth bar
// is ignored, so CR LF, CR CR LF and LF ends all read alike; fields a short
// line lacks are empty.
ListLine ParseListLine(std::string_view line);
// The line of a row, CR LF included.
std::string ListLineText(const ListRow& row);

// "Load" of an already chosen file: asks whether to add to a list that has
// rows; lines whose name no API contains are dropped. False when the file
// cannot be read (the engineer has been told) or the question was
// cancelled.
bool LoadListFile(const std::string& path, CommandList& list, ToolUi& ui);
// "Save as.." to an already chosen file. False when it cannot be created.
bool SaveListFile(const std::string& path, const CommandList& list, ToolUi& ui);

}  // namespace q7m::rigtool
