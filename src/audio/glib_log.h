// Where the logs of the libraries under the synthesizer go: FluidSynth's own and, through
// GLib, the SoundFont loaders' (a damaged SoundFont makes libinstpatch log assertion
// failures, "CRITICAL", that would otherwise go straight to stderr).
#pragma once

#include <string>

#include "base/reporter.h"

namespace velorna {

// The libraries' log functions are process-wide: they are installed once, and each verbose
// job only adds its reporter while it runs. A message goes to the reporter of the verbose job
// that started last, or nowhere, so jobs running side by side never cut off each other's log
// and none reaches a reporter after its job has ended.
class LibraryLogTarget {
 public:
  // Adds nothing for a null target.
  explicit LibraryLogTarget(Reporter* verboseTarget);
  ~LibraryLogTarget();
  LibraryLogTarget(const LibraryLogTarget&) = delete;
  LibraryLogTarget& operator=(const LibraryLogTarget&) = delete;

 private:
  Reporter* target_;
};

void ForwardLibraryLog(const std::string& text);
// Installs the forwarding of GLib's log, once per process.
void InstallGLibLog();

}  // namespace velorna
