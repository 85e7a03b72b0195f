#include "dialog_boxes.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace q7m::rigtool {
namespace {

QMessageBox::Icon IconOf(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kError:
      return QMessageBox::Critical;
    case BoxIcon::kWarning:
      return QMessageBox::Warning;
    case BoxIcon::kQuestion:
      return QMessageBox::Question;
    case BoxIcon::kInformation:
      break;
  }
  return QMessageBox::Information;
}

}  // namespace

QString QtNameFilters(std::string_view filter) {
  const QStringList parts =
      QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    // The name already shows its pattern; Qt reads the pattern from the
    // parentheses, so the pattern goes there when the name lacks them.
    filters << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + parts[i + 1] + ")");
  }
  return filters.join(";;");
}

void QtDialogBoxes::Show(QWidget* parent, const QString& caption, const QString& text,
                         BoxIcon icon) {
  QMessageBox box(IconOf(icon), caption, text, QMessageBox::Ok, parent);
  box.exec();
}

Answer QtDialogBoxes::Ask(QWidget* parent, const QString& caption, const QString& text) {
  const auto button = QMessageBox::question(
      parent, caption, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (button == QMessageBox::Yes) return Answer::kYes;
  if (button == QMessageBox::No) return Answer::kNo;
  return Answer::kCancel;
}

QString QtDialogBoxes::ChooseFile(QWidget* parent, FileChoice choice, const QString& current) {
  QFileDialog dialog(parent);
  switch (choice) {
    case FileChoice::kOpenList:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      dialog.setDefaultSuffix("lst");
      dialog.setNameFilter(QtNameFilters(kListFilter));
      break;
    case FileChoice::kSaveList:
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setDefaultSuffix("lst");
      dialog.setNameFilter(QtNameFilters(kListFilter));
      dialog.selectFile(QString::fromUtf8(kDefaultListName.data(), kDefaultListName.size()));
      break;
    case FileChoice::kPickLogName:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setDefaultSuffix("log");
      dialog.setNameFilter(QtNameFilters(kLogFilter));
      dialog.selectFile(current);
      break;
    case FileChoice::kSaveLogAs:
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setDefaultSuffix("log");
      dialog.setNameFilter(QtNameFilters(kLogFilter));
      dialog.selectFile(QString::fromUtf8(kDefaultLogName.data(), kDefaultLogName.size()));
      break;
    case FileChoice::kOpenDownload:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      break;
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace q7m::rigtool
