#include "dialog_harness.h"

#include <stdlib.h>

#include <QDeadlineTimer>
#include <QTimer>

namespace rigtooltest {

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "rigtool_dialog_tests";
  static char* argv[] = {name, nullptr};
  if (QApplication::instance() != nullptr) return;
  // No display in CI, and none wanted on a developer's desk.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  new QApplication(argc, argv);  // lives as long as the test program
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const QDeadlineTimer deadline(limit.count());
  // Wakes the event loop now and then, so that the deadline is seen even
  // when nothing else happens.
  QTimer wake;
  wake.start(100);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

std::string Lines(std::string text) {
  std::erase(text, '\r');
  return text;
}

DialogHarness::DialogHarness() {
  EnsureApplication();
  dialog_ = std::make_unique<MainDialog>(boxes);
  // Not shown: nothing here needs its pixels, and painting would run Qt's
  // image code on its thread pool, which ThreadSanitizer cannot follow.
  QObject::connect(dialog_.get(), &QDialog::finished, [this] { ++closed; });
}

DialogHarness::~DialogHarness() {
  dialog_.reset();
  QCoreApplication::processEvents();
}

void DialogHarness::Click(const char* name) {
  Get<QPushButton>(name)->click();
}

void DialogHarness::ChooseApi(const QString& name) {
  auto* apis = Get<QComboBox>("apis");
  apis->setCurrentIndex(apis->findText(name));
}

void DialogHarness::TypeParam(int row, const QString& text) {
  Get<QComboBox>(("param" + std::to_string(row)).c_str())->setEditText(text);
}

std::string DialogHarness::LogView() {
  return Get<QPlainTextEdit>("log")->toPlainText().toStdString();
}

bool DialogHarness::LogShows(const std::string& text) {
  const std::string lines = Lines(text);
  return WaitFor([&] { return LogView().find(lines) != std::string::npos; });
}

bool DialogHarness::WorkerIdle() {
  dialog_->core().WaitForWorker();
  // The worker's last word (its end) has been queued; once it is shown,
  // everything before it is too.
  const std::string marker = dialog_->core().log().Text();
  return WaitFor([&] { return LogView() == Lines(marker); });
}

}  // namespace rigtooltest
