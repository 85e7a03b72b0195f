#include "main_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableWidget>
#include <QTextCursor>
#include <QVBoxLayout>

#include "api_list.h"
#include "list_file.h"
#include "parameter_rows.h"

namespace q7m::rigtool {
namespace {

QString FromText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr int kNameColumnWidth = 150;
constexpr int kParameterColumnWidth = 100;

}  // namespace

MainDialog::MainDialog(DialogBoxes& boxes, QWidget* parent) : QDialog(parent), boxes_(boxes) {
  setWindowTitle("Q7M-R Test Application");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));

  auto* layout = new QVBoxLayout(this);
  // Linux windows have no system menu to extend: the about item sits in
  // the window's own menu.
  auto* menuBar = new QMenuBar(this);
  QMenu* menu = menuBar->addMenu("&Window");
  menu->addSeparator();
  QAction* about = menu->addAction("&About RigTool...");
  about->setObjectName("about");
  connect(about, &QAction::triggered, this, &MainDialog::ShowAbout);
  layout->setMenuBar(menuBar);

  auto* top = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(BuildDeviceGroup());
  left->addWidget(BuildFunctionGroup());
  auto* right = new QVBoxLayout;
  right->addWidget(BuildListGroup());
  right->addWidget(BuildOptionsGroup());
  top->addLayout(left);
  top->addLayout(right);
  layout->addLayout(top);
  layout->addWidget(BuildLogGroup());
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // Start-up: the fields show the core's defaults.
  loops_->setText(QString::number(core_.loops.load()));
  errorStop_->setText(QString::number(core_.errorStop.load()));
  logName_->setText(FromText(core_.log().FileName()));
  SetUpRows(-1);
  field_->setFocus();
}

MainDialog::~MainDialog() {
  if (!shutDown_) {
    shutDown_ = true;
    core_.Shutdown();
  }
}

QPushButton* MainDialog::Button(const QString& caption, const char* name) {
  auto* button = new QPushButton(caption);
  button->setObjectName(name);
  // Enter is routed by the dialog itself (keyPressEvent), never by a
  // default button.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QWidget* MainDialog::BuildDeviceGroup() {
  auto* group = new QGroupBox("Device Control");
  auto* grid = new QGridLayout(group);
  ports_ = new QButtonGroup(this);
  usb_ = new QRadioButton("USB");
  usb_->setObjectName("usb");
  usb_->setChecked(true);
  ports_->addButton(usb_);
  grid->addWidget(usb_, 0, 0);
  for (int i = 0; i < 4; ++i) {
    com_[i] = new QRadioButton(QString("COM%1").arg(i + 1));
    com_[i]->setObjectName(QString("com%1").arg(i + 1));
    ports_->addButton(com_[i]);
    grid->addWidget(com_[i], 0, i + 1);
  }
  connect(ports_, &QButtonGroup::buttonClicked, this, [this] { OnPortChosen(); });
  fieldLabel_ = new QLabel("Serial Number:");
  fieldLabel_->setObjectName("fieldLabel");
  field_ = new QLineEdit;
  field_->setObjectName("field");
  grid->addWidget(fieldLabel_, 1, 0, 1, 2);
  grid->addWidget(field_, 1, 2, 1, 3);
  open_ = Button("&OpenDevice", "openDevice");
  QPushButton* close = Button("&CloseDevice", "closeDevice");
  QPushButton* start = Button("StartRestriction", "startRestriction");
  QPushButton* end = Button("EndRestriction", "endRestriction");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {open_, close, start, end}) buttons->addWidget(button);
  grid->addLayout(buttons, 2, 0, 1, 5);
  connect(open_, &QPushButton::clicked, this, &MainDialog::OnOpenDevice);
  connect(close, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.CloseDevice();
    ShowList();
  });
  connect(start, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.StartRestriction();
  });
  connect(end, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.EndRestriction();
  });
  return group;
}

QWidget* MainDialog::BuildFunctionGroup() {
  auto* group = new QGroupBox("Function List");
  auto* grid = new QGridLayout(group);
  grid->addWidget(new QLabel("APIs:"), 0, 0);
  apis_ = new QComboBox;
  apis_->setObjectName("apis");
  apis_->setEditable(false);
  for (std::string_view name : ApiNames()) apis_->addItem(FromText(name));
  apis_->setCurrentIndex(-1);
  grid->addWidget(apis_, 0, 1, 1, 3);
  connect(apis_, &QComboBox::currentIndexChanged, this, [this](int index) {
    CopyFields();
    SetUpRows(index);
  });
  for (int i = 0; i < 4; ++i) {
    grid->addWidget(new QLabel(QString("P%1:").arg(i + 1)), i + 1, 0);
    rowLabels_[i] = new QLabel;
    rowLabels_[i]->setObjectName(QString("rowLabel%1").arg(i + 1));
    rowLabels_[i]->setMinimumWidth(140);
    boxes4_[i] = new QComboBox;
    boxes4_[i]->setObjectName(QString("param%1").arg(i + 1));
    boxes4_[i]->setEditable(true);
    boxes4_[i]->setInsertPolicy(QComboBox::NoInsert);
    boxes4_[i]->setMinimumWidth(220);
    fileButtons_[i] = Button("...", QString("paramFile%1").arg(i + 1).toLatin1().constData());
    fileButtons_[i]->setEnabled(false);
    grid->addWidget(rowLabels_[i], i + 1, 1);
    grid->addWidget(boxes4_[i], i + 1, 2);
    grid->addWidget(fileButtons_[i], i + 1, 3);
  }
  connect(fileButtons_[0], &QPushButton::clicked, this, [this] {
    CopyFields();
    const QString path = boxes_.ChooseFile(this, FileChoice::kOpenDownload, {});
    if (!path.isEmpty()) boxes4_[0]->setEditText(path);
  });
  QPushButton* execute = Button("E&xecute", "execute");
  QPushButton* set = Button("Se&t", "set");
  QPushButton* getResult = Button("&GetResult", "getResult");
  QPushButton* cancel = Button("C&ancel", "cancel");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {execute, set, getResult, cancel}) buttons->addWidget(button);
  grid->addLayout(buttons, 5, 0, 1, 4);
  connect(execute, &QPushButton::clicked, this, &MainDialog::OnExecute);
  connect(set, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.Set(apis_->currentIndex(), ResolvedParams());
    ShowList();
  });
  connect(getResult, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.GetResult();
  });
  connect(cancel, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.Cancel();
  });
  return group;
}

QWidget* MainDialog::BuildListGroup() {
  auto* group = new QGroupBox("Command List");
  auto* box = new QVBoxLayout(group);
  list_ = new QTableWidget(0, 5);
  list_->setObjectName("commandList");
  list_->setHorizontalHeaderLabels(
      {"API Function", "Parameter 1", "Parameter 2", "Parameter 3", "Parameter 4"});
  list_->setColumnWidth(0, kNameColumnWidth);
  for (int column = 1; column < 5; ++column) list_->setColumnWidth(column, kParameterColumnWidth);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setShowGrid(true);
  list_->verticalHeader()->setVisible(false);
  list_->setMinimumWidth(kNameColumnWidth + 4 * kParameterColumnWidth + 24);
  connect(list_, &QTableWidget::itemSelectionChanged, this, &MainDialog::CopySelectionToList);
  box->addWidget(list_);

  auto* buttons = new QGridLayout;
  const std::array<std::pair<const char*, const char*>, 8> captions{{{"Run All", "runAll"},
                                                                     {"Stop", "stop"},
                                                                     {"Run 1x", "runOnce"},
                                                                     {"Insert", "insert"},
                                                                     {"Delete", "delete"},
                                                                     {"Clear", "clearList"},
                                                                     {"Load", "load"},
                                                                     {"Save as..", "saveList"}}};
  std::array<QPushButton*, 8> made{};
  for (size_t i = 0; i < captions.size(); ++i) {
    made[i] = Button(captions[i].first, captions[i].second);
    buttons->addWidget(made[i], static_cast<int>(i / 4), static_cast<int>(i % 4));
  }
  box->addLayout(buttons);
  connect(made[0], &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.RunAll();
  });
  connect(made[1], &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.Stop();
    ShowList();
  });
  connect(made[2], &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.RunSelected();
    ShowList();
  });
  connect(made[3], &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.list().Insert();
    ShowList();
  });
  connect(made[4], &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.list().DeleteSelected();
    ShowList();
  });
  connect(made[5], &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.list().Clear();
    ShowList();
  });
  connect(made[6], &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.LoadList();
    ShowList();
  });
  connect(made[7], &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.SaveList();
  });
  return group;
}

QWidget* MainDialog::BuildOptionsGroup() {
  auto* group = new QGroupBox("Options");
  auto* grid = new QGridLayout(group);
  synchronous_ = new QRadioButton("Synchronous Mode");
  synchronous_->setObjectName("synchronous");
  asynchronous_ = new QRadioButton("Asynchronous Mode");
  asynchronous_->setObjectName("asynchronous");
  asynchronous_->setChecked(true);
  grid->addWidget(synchronous_, 0, 0, 1, 2);
  grid->addWidget(asynchronous_, 0, 2, 1, 2);
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
  loops_ = new QLineEdit;
  loops_->setObjectName("loops");
  errorStop_ = new QLineEdit;
  errorStop_->setObjectName("errorStop");
  for (QLineEdit* field : {loops_, errorStop_}) field->setValidator(digits);
  grid->addWidget(new QLabel("Loop:"), 1, 0);
  grid->addWidget(loops_, 1, 1);
  grid->addWidget(new QLabel("Error Stop:"), 1, 2);
  grid->addWidget(errorStop_, 1, 3);
  logging_ = new QCheckBox("Enable Logging");
  logging_->setObjectName("logging");
  timeStamps_ = new QCheckBox("Log with Time Stamp");
  timeStamps_->setObjectName("timeStamps");
  appendOnExit_ = new QCheckBox("Append Log on Exit");
  appendOnExit_->setObjectName("appendOnExit");
  for (QCheckBox* check : {logging_, timeStamps_, appendOnExit_}) check->setChecked(true);
  grid->addWidget(logging_, 2, 0, 1, 2);
  grid->addWidget(timeStamps_, 2, 2, 1, 2);
  grid->addWidget(appendOnExit_, 3, 0, 1, 2);
  logName_ = new QLineEdit;
  logName_->setObjectName("logName");
  QPushButton* pick = Button("...", "pickLog");
  grid->addWidget(logName_, 4, 0, 1, 3);
  grid->addWidget(pick, 4, 3);
  connect(pick, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.PickLogFile();
    logName_->setText(FromText(core_.log().FileName()));
  });
  QPushButton* save = Button("Save", "saveLog");
  QPushButton* saveAs = Button("Save as", "saveLogAs");
  QPushButton* append = Button("Append", "appendLog");
  QPushButton* clear = Button("Clear", "clearLog");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {save, saveAs, append, clear}) buttons->addWidget(button);
  grid->addLayout(buttons, 5, 0, 1, 4);
  connect(save, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.log().Save();
  });
  connect(saveAs, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.log().SaveAs();
  });
  connect(append, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.log().AppendToFile();
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    CopyFields();
    core_.log().Clear();
    {
      // What was queued before the log was cleared is gone with it.
      std::lock_guard lock(inboxMutex_);
      std::erase_if(inbox_, [](const Pending& p) { return p.kind == Pending::Kind::kLog; });
    }
    log_->clear();
  });
  return group;
}

QWidget* MainDialog::BuildLogGroup() {
  auto* group = new QGroupBox("Log");
  auto* box = new QVBoxLayout(group);
  log_ = new QPlainTextEdit;
  log_->setObjectName("log");
  log_->setReadOnly(true);
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setMaximumBlockCount(0);  // no length limit
  log_->setMinimumHeight(220);
  // The log lines align their values with tabs of eight columns.
  log_->setTabStopDistance(8 * log_->fontMetrics().horizontalAdvance(' '));
  QPalette palette = log_->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  log_->setPalette(palette);
  box->addWidget(log_);
  return group;
}

void MainDialog::CopyCount(QLineEdit* field, std::atomic<int>& target) {
  bool ok = false;
  const long long value = field->text().toLongLong(&ok);
  if (ok && RigCore::ValidCount(value)) {
    target = static_cast<int>(value);
    return;
  }
  // Refused: the field shows its previous value again and the handler goes on.
  boxes_.Show(this, windowTitle(), "Please enter an integer between 0 and 2147483647.",
              BoxIcon::kWarning);
  field->setText(QString::number(target.load()));
}

void MainDialog::CopyFields() {
  core_.asynchronous = asynchronous_->isChecked();
  CopyCount(loops_, core_.loops);
  CopyCount(errorStop_, core_.errorStop);
  core_.log().enabled = logging_->isChecked();
  core_.log().timeStamps = timeStamps_->isChecked();
  core_.log().appendOnExit = appendOnExit_->isChecked();
  core_.log().SetFileName(logName_->text().toStdString());
}

Params MainDialog::ResolvedParams() const {
  Params params;
  const auto& rows = ParamRowsOf(apis_->currentIndex());
  for (size_t i = 0; i < params.size(); ++i) {
    const QComboBox* box = boxes4_[i];
    const int entry = box->currentIndex();
    // An entry of the box's list counts as picked while the box shows it
    // unchanged; anything else is typed text.
    if (entry >= 0 && box->currentText() == box->itemText(entry)) {
      params[i] = PickedEntryText(rows[i], box->itemText(entry).toStdString());
    }
    if (params[i].empty()) params[i] = box->currentText().toStdString();
  }
  return params;
}

void MainDialog::SetUpRows(int apiIndex) {
  const auto& rows = ParamRowsOf(apiIndex);
  for (size_t i = 0; i < rows.size(); ++i) {
    QComboBox* box = boxes4_[i];
    rowLabels_[i]->setText(FromText(RowLabel(rows[i])));
    box->clear();
    for (const ValueEntry& entry : rows[i].table) box->addItem(FromText(entry.label));
    box->setCurrentIndex(-1);
    box->setEditText({});
    box->setEnabled(rows[i].kind != ParamKind::kNone);
    fileButtons_[i]->setEnabled(RowTakesAFile(apiIndex, i));
  }
}

void MainDialog::ShowList() {
  const std::vector<ListRow> rows = core_.list().Rows();
  const QSignalBlocker block(list_);
  list_->setRowCount(static_cast<int>(rows.size()));
  list_->clearSelection();
  for (size_t r = 0; r < rows.size(); ++r) {
    const int row = static_cast<int>(r);
    const std::array<const std::string*, 5> texts{&rows[r].name, &rows[r].params[0],
                                                  &rows[r].params[1], &rows[r].params[2],
                                                  &rows[r].params[3]};
    for (int column = 0; column < 5; ++column) {
      const QString text = QString::fromStdString(*texts[column]);
      QTableWidgetItem* item = list_->item(row, column);
      if (item == nullptr) {
        list_->setItem(row, column, new QTableWidgetItem(text));
      } else if (item->text() != text) {
        item->setText(text);
      }
    }
  }
  // The selection is set after the texts, so that the signals stay blocked
  // for all of it.
  for (size_t r = 0; r < rows.size(); ++r) {
    if (!rows[r].selected) continue;
    for (int column = 0; column < 5; ++column) {
      list_->item(static_cast<int>(r), column)->setSelected(true);
    }
  }
}

void MainDialog::CopySelectionToList() {
  const int count = list_->rowCount();
  for (int row = 0; row < count; ++row) {
    const QTableWidgetItem* item = list_->item(row, 0);
    core_.list().Select(static_cast<size_t>(row), item != nullptr && item->isSelected());
  }
}

void MainDialog::OnPortChosen() {
  fieldLabel_->setText(usb_->isChecked() ? "Serial Number:" : "Baud Rate:");
}

void MainDialog::OnOpenDevice() {
  CopyFields();
  QString port = "USB";
  for (QRadioButton* com : com_) {
    if (com->isChecked()) port = com->text();
  }
  core_.OpenDevice(port.toStdString(), field_->text().toStdString());
}

void MainDialog::StartWith(const CliOptions& options) {
  usb_->setChecked(true);
  for (QRadioButton* com : com_) {
    if (com->text().toStdString() == options.port) com->setChecked(true);
  }
  OnPortChosen();
  field_->setText(QString::fromStdString(options.field));
  (options.asynchronous ? asynchronous_ : synchronous_)->setChecked(true);
  loops_->setText(QString::number(options.loops));
  errorStop_->setText(QString::number(options.errorStop));
  logging_->setChecked(options.logging);
  timeStamps_->setChecked(options.timeStamps);
  if (!options.logFile.empty()) logName_->setText(QString::fromStdString(options.logFile));
  CopyFields();
  if (!options.listFile.empty()) {
    LoadListFile(options.listFile, core_.list(), *this);
    for (size_t row : options.rows) {
      if (row >= 1 && row <= core_.list().Size()) core_.list().Select(row - 1, true);
    }
    ShowList();
  }
  OnOpenDevice();
  if (!core_.IsOpen()) return;
  if (!options.callApi.empty()) {
    apis_->setCurrentIndex(apis_->findText(QString::fromStdString(options.callApi)));
    for (size_t i = 0; i < options.callParams.size() && i < boxes4_.size(); ++i) {
      const QString text = QString::fromStdString(options.callParams[i]);
      const int entry = boxes4_[i]->findText(text);
      if (entry >= 0) {
        boxes4_[i]->setCurrentIndex(entry);
      } else {
        boxes4_[i]->setEditText(text);
      }
    }
    OnExecute();
  } else if (!options.listFile.empty()) {
    if (options.rows.empty()) {
      core_.RunAll();
    } else {
      core_.RunSelected();
    }
    ShowList();
  }
}

void MainDialog::OnExecute() {
  CopyFields();
  core_.Execute(apis_->currentIndex(), ResolvedParams());
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter opens the reader from the serial field and executes from the
    // OpenDevice button; anywhere else it does nothing, and it never
    // closes the window.
    QWidget* focus = focusWidget();
    if (focus == field_) {
      OnOpenDevice();
    } else if (focus == open_) {
      OnExecute();
    }
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);  // Escape rejects, which closes the window
}

void MainDialog::done(int result) {
  if (!shutDown_) {
    CopyFields();
    shutDown_ = true;
    core_.Shutdown();
  }
  QDialog::done(result);
}

void MainDialog::ShowAbout() {
  QMessageBox about(this);
  about.setWindowTitle("About RigTool");
  about.setIconPixmap(windowIcon().pixmap(32, 32));
  about.setText("Q7M-R Test Application Version 1.0");
  about.setStandardButtons(QMessageBox::Ok);
  about.exec();
}

void MainDialog::Queue(Pending pending) {
  bool wake = false;
  {
    std::lock_guard lock(inboxMutex_);
    wake = inbox_.empty();
    inbox_.push_back(std::move(pending));
  }
  // One wake-up per batch; the drain takes everything queued by then.
  if (wake) QMetaObject::invokeMethod(this, "DrainInbox", Qt::QueuedConnection);
}

void MainDialog::LogAppended(std::string_view text) {
  // Also from the UI thread through the queue: text the worker queued
  // earlier must reach the view first.
  Queue({Pending::Kind::kLog, {}, std::string(text)});
}

void MainDialog::ShowMessage(std::string_view caption, std::string_view text, BoxIcon icon) {
  if (std::this_thread::get_id() == uiThread_) {
    boxes_.Show(this, FromText(caption), FromText(text), icon);
    return;
  }
  // The worker does not wait for the engineer to close the box.
  Queue({Pending::Kind::kMessage, std::string(caption), std::string(text), icon});
}

Answer MainDialog::Ask(std::string_view caption, std::string_view text) {
  return boxes_.Ask(this, FromText(caption), FromText(text));
}

std::string MainDialog::ChooseFile(FileChoice choice) {
  return boxes_.ChooseFile(this, choice, logName_->text()).toStdString();
}

void MainDialog::WorkerEnded() {
  Queue({Pending::Kind::kWorkerEnded, {}, {}});
}

void MainDialog::DrainInbox() {
  std::vector<Pending> batch;
  {
    std::lock_guard lock(inboxMutex_);
    batch.swap(inbox_);
  }
  QString text;
  std::vector<const Pending*> messages;
  for (const Pending& pending : batch) {
    if (pending.kind == Pending::Kind::kLog) {
      text += FromText(pending.text);
    } else if (pending.kind == Pending::Kind::kMessage) {
      messages.push_back(&pending);
    }
  }
  if (!text.isEmpty()) {
    text.remove('\r');
    QTextCursor end(log_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    log_->moveCursor(QTextCursor::End);
    log_->ensureCursorVisible();
  }
  // The worker deselects rows as Run 1x takes them and all rows when a run
  // ends.
  ShowList();
  // Boxes last: a box runs its own event loop, in which later batches may
  // drain, and their text must follow this one's.
  for (const Pending* message : messages) {
    boxes_.Show(this, FromText(message->caption), FromText(message->text), message->icon);
  }
}

}  // namespace q7m::rigtool
