// Not a test itself: the language test runs it under several locales. It draws the dialog
// into the PNG named on its command line and prints the texts the test checks, one a line:
// "button <text>" for each button, "action <text>" for each context-menu entry, and
// "message <text>" for one system message as the dialog would show it, and "layout <what is
// wrong>" when the texts do not fit.
#include <QAction>
#include <QPushButton>
#include <cstdio>

#include "app/dialog_settings.h"
#include "app/gui_support.h"
#include "app/velorna_app.h"
#include "base/library_error.h"
#include "language/message_translation.h"
#include "own_settings.h"

int main(int argc, char** argv) {
  using namespace velorna;
  test::UseOwnSettings();
  CVelornaApp app(argc, argv);
  ClearDialogSettings();
  if (argc < 2) {
    std::fprintf(stderr, "usage: velorna_language_probe [--lang ja|en] OUT.png\n");
    return 2;
  }
  CVelornaDlg dialog([](auto&&...) { return ConversionResult::kNotWritten; });
  dialog.show();
  QApplication::processEvents();
  for (const QPushButton* button : dialog.findChildren<QPushButton*>())
    std::printf("button %s\n", qPrintable(button->text()));
  for (const QAction* action : dialog.actions())
    std::printf("action %s\n", qPrintable(action->text()));
  if (const QString problem = test::LayoutProblem(dialog); !problem.isEmpty())
    std::printf("layout %s\n", qPrintable(problem));
  const std::string notMidi = "MDLD17000002 " + std::string(msg::kNotMidiFile);
  std::printf("message %s\n", qPrintable(TranslateWithApplication(notMidi)));
  return dialog.grab().save(QString::fromLocal8Bit(argv[argc - 1])) ? 0 : 1;
}
