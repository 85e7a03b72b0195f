// The log: one text with CR LF line ends that only grows at its end, its
// three switches, and the log-file operations.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "tool_ui.h"

namespace q7m::rigtool {

class LogBook {
 public:
  explicit LogBook(ToolUi& ui) : ui_(ui) {}

  std::atomic<bool> enabled{true};       // "Enable Logging"
  std::atomic<bool> timeStamps{true};    // "Log with Time Stamp"
  std::atomic<bool> appendOnExit{true};  // "Append Log on Exit"

  // Appends `entry` and one CR LF, when logging is enabled.
  void Append(std::string_view entry);
  std::string Text() const;
  void Clear();

  // The log-file name field.
  std::string FileName() const;
  void SetFileName(std::string name);

  // "Save": replaces the named file with the log text.
  void Save();
  // "Save as": the same into a file the engineer chooses; the name field
  // stays as it is.
  void SaveAs();
  // "Append": adds the log text to the end of the named file, creating it.
  void AppendToFile();

 private:
  enum class Mode { kReplace, kAppend };
  void WriteFile(const std::string& name, Mode mode);

  ToolUi& ui_;
  mutable std::mutex mutex_;
  std::string text_;
  std::string fileName_{kDefaultLogName};
};

}  // namespace q7m::rigtool
