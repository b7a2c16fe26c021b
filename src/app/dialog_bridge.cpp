#include "app/dialog_bridge.h"

#include <QMetaObject>
#include <QThread>
#include <cstdio>

#include "conversion/conversion_job.h"
#include "language/message_translation.h"

namespace velorna {

QString ShownText(const Report& report) {
  QString text = TranslateWithApplication(report.text);
  if (report.level) text += u'\n' + TranslateWithApplication(LevelText(*report.level));
  return text;
}

void DialogReporter::Show(const Report& report) {
  const DialogHooks& hooks = m_hooks;
  auto show = [&hooks, &report] {
    if (hooks.isClosing()) {
      // Nobody is left to read a box: the closing dialog only waits for the job to end.
      if (report.kind != ReportKind::kFinished)
        std::fprintf(stderr, "%s\n", qPrintable(TranslateWithApplication(report.text)));
      return;
    }
    hooks.showMessage(ShownText(report));
  };
  if (QThread::currentThread() == hooks.context->thread()) {
    show();
  } else {
    // The worker waits until the user has closed the box.
    QMetaObject::invokeMethod(hooks.context, show, Qt::BlockingQueuedConnection);
  }
}

void DialogObserver::ShowProgress(const std::string& progressText, const std::string& elapsedText) {
  const DialogHooks& hooks = m_hooks;
  QMetaObject::invokeMethod(
      hooks.context,
      [&hooks, progress = TranslateWithApplication(progressText),
       elapsed = QString::fromStdString(elapsedText)] { hooks.showProgress(progress, elapsed); },
      Qt::QueuedConnection);
}

}  // namespace velorna
