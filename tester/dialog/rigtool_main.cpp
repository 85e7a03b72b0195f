// rigtool: the engineers' test program, one window shown modally until it
// is closed. Given rigtool-cli's options, it starts with them filled in
// and opens the reader and starts the run or call at once.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_options.h"
#include "dialog_boxes.h"
#include "main_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("RigTool");
  const QStringList arguments = QApplication::arguments();  // without Qt's own options
  std::vector<std::string> args;
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());

  q7m::rigtool::CliOptions options;
  std::string error;
  if (!args.empty() && !q7m::rigtool::ParseCliOptions(args, &options, &error)) {
    std::fprintf(stderr, "rigtool: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::printf("rigtool [rigtool-cli's options]: the window, started with them.\n%s",
                q7m::rigtool::CliUsage());
    return 0;
  }
  q7m::rigtool::QtDialogBoxes boxes;
  q7m::rigtool::MainDialog dialog(boxes);
  if (!args.empty()) QTimer::singleShot(0, &dialog, [&] { dialog.StartWith(options); });
  dialog.exec();
  return 0;
}
