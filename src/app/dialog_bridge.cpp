#include "app/dialog_bridge.h"

#include <QMetaObject>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/progress_time.h"
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

// The job's numbers written as the dialog's fields show them: the elapsed time in whole
// seconds, as the dialog's own clock writes it between reports.
void DialogObserver::ShowProgress(const JobProgress& progress) {
  const DialogHooks& hooks = m_hooks;
  const double seconds = std::chrono::duration<double>(progress.elapsed).count();
  QMetaObject::invokeMethod(
      hooks.context,
      [&hooks, percent = TranslateWithApplication(std::to_string(progress.percent) + "％"),
       elapsed = QString::fromStdString(ClockText(std::floor(seconds)))] {
        hooks.showProgress(percent, elapsed);
      },
      Qt::QueuedConnection);
}

}  // namespace velorna
