// How a job on the worker thread reaches the dialog: messages become modal boxes on the
// GUI thread while the worker waits; progress is queued to the two status fields.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "base/reporter.h"
#include "conversion/job_control.h"

namespace velorna {

// What the bridge needs of the dialog; every hook runs on the thread of `context`.
struct DialogHooks {
  QObject* context = nullptr;
  std::function<bool()> isClosing;
  std::function<void(const QString& text)> showMessage;
  std::function<void(const QString& progress, const QString& elapsed)> showProgress;
};

// A report as the dialog shows it, translated; a finished job's with its output's level.
QString ShownText(const Report& report);

class DialogReporter final : public Reporter {
 public:
  explicit DialogReporter(const DialogHooks& hooks) : m_hooks(hooks) {}
  void Show(const Report& report) override;

 private:
  const DialogHooks& m_hooks;
};

class DialogObserver final : public JobObserver {
 public:
  explicit DialogObserver(const DialogHooks& hooks) : m_hooks(hooks) {}
  void ShowProgress(const JobProgress& progress) override;

 private:
  const DialogHooks& m_hooks;
};

}  // namespace velorna
