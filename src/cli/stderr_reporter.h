// Messages of the system as lines on stderr; the progress display shares the stream.
#pragma once

#include <mutex>
#include <string>

#include "base/reporter.h"
#include "conversion/conversion_job.h"

namespace velorna::cli {

class ConsoleOutput final : public Reporter, public JobObserver {
 public:
  ConsoleOutput(bool showProgress, bool terminal)
      : showProgress_(showProgress), terminal_(terminal) {}

  void Show(const Report& report) override;
  void ShowProgress(const std::string& progressText, const std::string& elapsedText) override;
  // Ends a progress bar that is being redrawn in place.
  void EndProgress();
  void SetSong(const std::string& name);

 private:
  void ClearBarLocked();

  std::mutex mutex_;
  bool showProgress_;
  bool terminal_;
  bool barShown_ = false;
  std::string song_;
  std::string lastLine_;
};

}  // namespace velorna::cli
