#include "list_file.h"

#include <cstdio>

#include "api_list.h"

namespace q7m::rigtool {
namespace {

constexpr std::string_view kAddQuestion =
    "A list of commands already exist! Add to existing command list?\n"
    "\tClick Yes to add or No to clear contents.\n";

// Reads one line up to and including LF (or to the end of the file).
bool ReadLine(std::FILE* file, std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    line->push_back(static_cast<char>(c));
    if (c == '\n') return true;
  }
  return !line->empty();
}

}  // namespace

ListLine ParseListLine(std::string_view line) {
  // A line with fewer than five bars still has a line end in its last
  // field; it is no part of the text.
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  ListLine parsed;
  std::string* fields[5] = {&parsed.name, &parsed.params[0], &parsed.params[1], &parsed.params[2],
                            &parsed.params[3]};
  size_t field = 0;
  for (char c : line) {
    if (c == '|') {
      if (++field == 5) break;
      continue;
    }
    fields[field]->push_back(c);
  }
  return parsed;
}

std::string ListLineText(const ListRow& row) {
  std::string line = row.name + "|";
  for (const std::string& param : row.params) line += param + "|";
  return line + "\r\n";
}

bool LoadListFile(const std::string& path, CommandList& list, ToolUi& ui) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    ui.ShowMessage("Warning", "Cannot read data from file!", BoxIcon::kError);
    return false;
  }
  if (list.Size() > 0) {
    switch (ui.Ask("Information", kAddQuestion)) {
      case Answer::kYes:
        break;
      case Answer::kNo:
        list.Clear();
        break;
      case Answer::kCancel:
        std::fclose(file);
        return false;
    }
  }
  std::string text;
  while (ReadLine(file, &text)) {
    ListLine line = ParseListLine(text);
    const int index = ApiIndexContaining(line.name);
    if (index < 0) continue;
    list.AddRow(line.name, index, line.params);
  }
  std::fclose(file);
  return true;
}

bool SaveListFile(const std::string& path, const CommandList& list, ToolUi& ui) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    ui.ShowMessage("Warning", "Cannot save data to file!", BoxIcon::kError);
    return false;
  }
  for (const ListRow& row : list.Rows()) {
    const std::string line = ListLineText(row);
    std::fwrite(line.data(), 1, line.size(), file);
  }
  return std::fclose(file) == 0;
}

}  // namespace q7m::rigtool
