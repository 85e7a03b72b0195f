#include "cli_ui.h"

namespace q7m::rigtool {

void CliUi::LogAppended(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  // A soak rig watching the output sees each entry as it happens.
  std::fflush(out_);
}

void CliUi::ShowMessage(std::string_view caption, std::string_view text, BoxIcon) {
  std::fprintf(err_, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
               static_cast<int>(text.size()), text.data());
  std::fflush(err_);
}

Answer CliUi::Ask(std::string_view caption, std::string_view text) {
  ShowMessage(caption, text, BoxIcon::kQuestion);
  return Answer::kYes;
}

std::string CliUi::ChooseFile(FileChoice) {
  return {};
}

}  // namespace q7m::rigtool
