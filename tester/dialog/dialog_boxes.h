// The boxes the dialog opens: messages, the Yes/No/Cancel question and the
// file choices. Behind an interface so that tests answer them instead of
// an engineer.
#pragma once

#include <QString>

#include "tool_ui.h"

class QWidget;

namespace q7m::rigtool {

class DialogBoxes {
 public:
  virtual ~DialogBoxes() = default;
  virtual void Show(QWidget* parent, const QString& caption, const QString& text, BoxIcon icon) = 0;
  virtual Answer Ask(QWidget* parent, const QString& caption, const QString& text) = 0;
  // The chosen path, or "" when cancelled.
  virtual QString ChooseFile(QWidget* parent, FileChoice choice, const QString& current) = 0;
};

// The real boxes: QMessageBox and QFileDialog.
class QtDialogBoxes : public DialogBoxes {
 public:
  void Show(QWidget* parent, const QString& caption, const QString& text, BoxIcon icon) override;
  Answer Ask(QWidget* parent, const QString& caption, const QString& text) override;
  QString ChooseFile(QWidget* parent, FileChoice choice, const QString& current) override;
};

// "name|pattern|name|pattern||" as Qt's "name (pattern);;name (pattern)".
QString QtNameFilters(std::string_view filter);

}  // namespace q7m::rigtool
