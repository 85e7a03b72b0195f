// What the core needs of a front end: show what the log gained, message
// and question boxes, and file choices. The dialog implements it with its
// widgets, rigtool-cli with standard output and standard error.
#pragma once

#include <string>
#include <string_view>

namespace q7m::rigtool {

enum class BoxIcon { kError, kWarning, kInformation, kQuestion };
enum class Answer { kYes, kNo, kCancel };

// The file dialogs the tool opens; each fixes its filter, default extension
// and default name, and whether the file must exist or may be overwritten.
enum class FileChoice {
  kOpenList,     // "Load": an existing *.lst
  kSaveList,     // "Save as..": default "CmdList", asks before overwriting
  kPickLogName,  // "..." beside the log-file name: need not exist
  kSaveLogAs,    // "Save as": default "Q7MDATA.LOG", asks before overwriting
  kOpenDownload  // "..." of ExecuteDownload: any existing file
};

class ToolUi {
 public:
  virtual ~ToolUi() = default;
  // `text` has been appended to the log (an entry and its CR LF). Called
  // from the UI thread and the worker alike, in log order, with the log's
  // lock held: hand the text on (queue it to the UI thread), never wait
  // for the UI thread here.
  virtual void LogAppended(std::string_view text) = 0;
  virtual void ShowMessage(std::string_view caption, std::string_view text, BoxIcon icon) = 0;
  // A question with the buttons Yes, No and Cancel.
  virtual Answer Ask(std::string_view caption, std::string_view text) = 0;
  // The chosen path, or "" when the engineer cancelled.
  virtual std::string ChooseFile(FileChoice choice) = 0;
  // The worker has ended its call or run (on the worker, after its last
  // log entry): a window refreshes what the run changed, such as the list
  // selection.
  virtual void WorkerEnded() {}
};

// The dialogs' filters, as "name|pattern|name|pattern||".
inline constexpr std::string_view kListFilter = "List File(*.lst)|*.lst|All Files (*.*)|*.*||";
inline constexpr std::string_view kLogFilter = "Log File(*.log)|*.log|All Files (*.*)|*.*||";
inline constexpr std::string_view kDefaultLogName = "Q7MDATA.LOG";
inline constexpr std::string_view kDefaultListName = "CmdList";

}  // namespace q7m::rigtool
