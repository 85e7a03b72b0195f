// The window "Q7M-R Test Application": the widgets of the five groups wired
// to RigCore. Everything a button does beyond reading its fields lives in
// the core, which rigtool-cli shares.
#pragma once

#include <QDialog>
#include <array>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli_options.h"
#include "dialog_boxes.h"
#include "rig_core.h"
#include "tool_ui.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace q7m::rigtool {

class MainDialog : public QDialog, private ToolUi {
  Q_OBJECT

 public:
  explicit MainDialog(DialogBoxes& boxes, QWidget* parent = nullptr);
  ~MainDialog() override;

  RigCore& core() { return core_; }

  // rigtool started with rigtool-cli's options: fills the fields from
  // them, loads the list, opens the reader and starts the run or call, as
  // the engineer would by hand. The window stays open afterwards.
  void StartWith(const CliOptions& options);

  // Escape and the close box end here: the reader is closed and the log
  // appended once, before the window goes.
  void done(int result) override;

 public slots:
  void ShowAbout();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private slots:
  // Hands what the worker and the UI thread queued to the widgets, in the
  // order it was queued.
  void DrainInbox();

 private:
  // ToolUi: called by the core, the worker included.
  void LogAppended(std::string_view text) override;
  void ShowMessage(std::string_view caption, std::string_view text, BoxIcon icon) override;
  Answer Ask(std::string_view caption, std::string_view text) override;
  std::string ChooseFile(FileChoice choice) override;
  void WorkerEnded() override;

  QWidget* BuildDeviceGroup();
  QWidget* BuildFunctionGroup();
  QWidget* BuildListGroup();
  QWidget* BuildOptionsGroup();
  QWidget* BuildLogGroup();
  QPushButton* Button(const QString& caption, const char* name);

  // Every handler first copies the entry fields into the core.
  void CopyFields();
  void CopyCount(QLineEdit* field, std::atomic<int>& target);
  Params ResolvedParams() const;
  void SetUpRows(int apiIndex);
  void ShowList();
  void CopySelectionToList();

  void OnPortChosen();
  void OnOpenDevice();
  void OnExecute();

  struct Pending {
    enum class Kind { kLog, kMessage, kWorkerEnded } kind;
    std::string caption;
    std::string text;
    BoxIcon icon = BoxIcon::kInformation;
  };
  void Queue(Pending pending);

  DialogBoxes& boxes_;
  const std::thread::id uiThread_ = std::this_thread::get_id();

  QRadioButton* usb_ = nullptr;
  std::array<QRadioButton*, 4> com_{};
  QButtonGroup* ports_ = nullptr;
  QLabel* fieldLabel_ = nullptr;
  QLineEdit* field_ = nullptr;
  QPushButton* open_ = nullptr;
  QComboBox* apis_ = nullptr;
  std::array<QLabel*, 4> rowLabels_{};
  std::array<QComboBox*, 4> boxes4_{};
  std::array<QPushButton*, 4> fileButtons_{};
  QTableWidget* list_ = nullptr;
  QRadioButton* synchronous_ = nullptr;
  QRadioButton* asynchronous_ = nullptr;
  QLineEdit* loops_ = nullptr;
  QLineEdit* errorStop_ = nullptr;
  QCheckBox* logging_ = nullptr;
  QCheckBox* timeStamps_ = nullptr;
  QCheckBox* appendOnExit_ = nullptr;
  QLineEdit* logName_ = nullptr;
  QPlainTextEdit* log_ = nullptr;

  std::mutex inboxMutex_;
  std::vector<Pending> inbox_;  // guarded by inboxMutex_
  bool shutDown_ = false;
  // Last: its worker calls back into the members above until it is gone.
  RigCore core_{*this};
};

}  // namespace q7m::rigtool
