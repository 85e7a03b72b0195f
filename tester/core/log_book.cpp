#include "log_book.h"

#include <cstdio>

#include "result_lines.h"

namespace q7m::rigtool {

void LogBook::Append(std::string_view entry) {
  if (!enabled) return;
  std::string piece(entry);
  piece += kCrLf;
  // The front end is told under the lock so that the view receives the
  // entries of both threads in the order the text holds them.
  std::lock_guard lock(mutex_);
  text_ += piece;
  ui_.LogAppended(piece);
}

std::string LogBook::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void LogBook::Clear() {
  std::lock_guard lock(mutex_);
  text_.clear();
}

std::string LogBook::FileName() const {
  std::lock_guard lock(mutex_);
  return fileName_;
}

void LogBook::SetFileName(std::string name) {
  std::lock_guard lock(mutex_);
  fileName_ = std::move(name);
}

void LogBook::Save() {
  WriteFile(FileName(), Mode::kReplace);
}

void LogBook::SaveAs() {
  WriteFile(ui_.ChooseFile(FileChoice::kSaveLogAs), Mode::kReplace);
}

void LogBook::AppendToFile() {
  WriteFile(FileName(), Mode::kAppend);
}

void LogBook::WriteFile(const std::string& name, Mode mode) {
  if (name.empty()) {
    ui_.ShowMessage("Error", "Cannot save data to file!", BoxIcon::kError);
    return;
  }
  // A file that cannot be opened is skipped without a message; the log
  // keeps its text either way.
  std::FILE* file = std::fopen(name.c_str(), mode == Mode::kAppend ? "ab" : "wb");
  if (file == nullptr) return;
  const std::string text = Text();
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

}  // namespace q7m::rigtool
