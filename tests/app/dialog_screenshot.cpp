// Draws the dialog as it looks on start into the PNG named on the command line.
#include <QPixmap>
#include <cstdio>

#include "app/velorna_app.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velorna_dialog_screenshot OUT.png\n");
    return 2;
  }
  velorna::CVelornaApp app(argc, argv);
  velorna::CVelornaDlg dialog({});
  dialog.show();
  QApplication::processEvents();
  dialog.activateWindow();
  QApplication::processEvents();
  if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
