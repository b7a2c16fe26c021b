#include "app/dialog_bridge.h"

#include <QMetaObject>
#include <QString>
#include <QThread>
#include <cstdio>

#include "app/velorna_dlg.h"
#include "language/message_translation.h"

namespace velorna {
namespace {

constexpr char kEndMessage[] = "変換が終了しました。";

}  // namespace

void DialogReporter::Show(const Report& report) {
  CVelornaDlg& dlg = m_dialog;
  auto show = [&dlg, &report] {
    if (dlg.IsClosing()) {
      // Nobody is left to read a box: the closing dialog only waits for the job to end.
      if (report.text != kEndMessage)
        std::fprintf(stderr, "%s\n", qPrintable(TranslateWithApplication(report.text)));
      return;
    }
    dlg.ShowMessage(TranslateWithApplication(report.text));
  };
  if (QThread::currentThread() == dlg.thread()) {
    show();
  } else {
    // The worker waits until the user has closed the box.
    QMetaObject::invokeMethod(&dlg, show, Qt::BlockingQueuedConnection);
  }
}

void DialogObserver::ShowProgress(const std::string& progressText, const std::string& elapsedText) {
  CVelornaDlg& dlg = m_dialog;
  QMetaObject::invokeMethod(
      &dlg,
      [&dlg, progress = TranslateWithApplication(progressText),
       elapsed = QString::fromStdString(elapsedText)] { dlg.ShowJobProgress(progress, elapsed); },
      Qt::QueuedConnection);
}

}  // namespace velorna
