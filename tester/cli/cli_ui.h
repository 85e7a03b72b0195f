// The front end of rigtool-cli: the log on standard output, message boxes
// as one line "CAPTION: TEXT" on standard error, every question answered
// Yes, and no file dialogs.
#pragma once

#include <cstdio>

#include "tool_ui.h"

namespace q7m::rigtool {

class CliUi : public ToolUi {
 public:
  CliUi(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  void LogAppended(std::string_view text) override;
  void ShowMessage(std::string_view caption, std::string_view text, BoxIcon icon) override;
  Answer Ask(std::string_view caption, std::string_view text) override;
  std::string ChooseFile(FileChoice choice) override;

 private:
  std::FILE* out_;
  std::FILE* err_;
};

}  // namespace q7m::rigtool
