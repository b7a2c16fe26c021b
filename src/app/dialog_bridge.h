// How a job on the worker thread reaches the dialog: messages become modal boxes on the
// GUI thread while the worker waits; progress is queued to the two status fields.
#pragma once

#include "base/reporter.h"
#include "conversion/conversion_job.h"

namespace velorna {

class CVelornaDlg;

class DialogReporter final : public Reporter {
 public:
  explicit DialogReporter(CVelornaDlg& dialog) : m_dialog(dialog) {}
  void Show(const Report& report) override;

 private:
  CVelornaDlg& m_dialog;
};

class DialogObserver final : public JobObserver {
 public:
  explicit DialogObserver(CVelornaDlg& dialog) : m_dialog(dialog) {}
  void ShowProgress(const std::string& progressText, const std::string& elapsedText) override;

 private:
  CVelornaDlg& m_dialog;
};

}  // namespace velorna
