// rigtool: the engineers' test program, one window shown modally until it
// is closed.
#include <QApplication>

#include "dialog_boxes.h"
#include "main_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("RigTool");
  q7m::rigtool::QtDialogBoxes boxes;
  q7m::rigtool::MainDialog dialog(boxes);
  dialog.exec();
  return 0;
}
