// Drives the main dialog in tests: the Qt application on the offscreen
// platform (no display needed), boxes answered by the test, the dialog's
// widgets found by name, and waits on what the window shows.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialog_boxes.h"
#include "main_dialog.h"

namespace rigtooltest {

using namespace q7m::rigtool;

class ScriptedBoxes : public DialogBoxes {
 public:
  void Show(QWidget*, const QString& caption, const QString& text, BoxIcon) override {
    shown.push_back((caption + ": " + text).toStdString());
  }
  Answer Ask(QWidget*, const QString& caption, const QString& text) override {
    asked.push_back((caption + ": " + text).toStdString());
    return answer;
  }
  QString ChooseFile(QWidget*, FileChoice choice, const QString&) override {
    choices.push_back(choice);
    return file;
  }

  std::vector<std::string> shown;
  std::vector<std::string> asked;
  std::vector<FileChoice> choices;
  Answer answer = Answer::kYes;
  QString file;
};

// The one QApplication of the test program, on the offscreen platform.
void EnsureApplication();

// Processes events until `done` holds; false when `limit` passed first.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(30));

class DialogHarness {
 public:
  DialogHarness();
  ~DialogHarness();

  MainDialog& dialog() { return *dialog_; }
  template <typename W>
  W* Get(const char* name) {
    W* widget = dialog_->findChild<W*>(name);
    if (widget == nullptr) throw std::runtime_error(std::string("no widget ") + name);
    return widget;
  }
  void Click(const char* name);
  void Type(const char* name, const QString& text) { Get<QLineEdit>(name)->setText(text); }
  // Chooses an API of the list by its name.
  void ChooseApi(const QString& name);
  // Types (editable) into parameter box 1..4.
  void TypeParam(int row, const QString& text);
  // The log view's text, its line ends as the view has them ("\n").
  std::string LogView();
  // Waits until the log view holds `text` ("\r\n" in it taken as "\n").
  bool LogShows(const std::string& text);
  // Waits until the worker has ended and the window has shown its end.
  bool WorkerIdle();

  ScriptedBoxes boxes;
  int closed = 0;  // how often the window was closed (Escape, close box)

 private:
  std::unique_ptr<MainDialog> dialog_;
};

// `text` without its carriage returns: the view shows lines.
std::string Lines(std::string text);

}  // namespace rigtooltest
