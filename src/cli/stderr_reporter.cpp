#include "cli/stderr_reporter.h"

#include <cstdio>
#include <cstdlib>

namespace velorna::cli {

void ConsoleOutput::ClearBarLocked() {
  if (barShown_) {
    std::fputs("\r\033[K", stderr);
    barShown_ = false;
  }
}

void ConsoleOutput::Show(const Report& report) {
  std::string line = report.text;
  // One message, one line: the few texts with a line break keep it as a blank.
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::lock_guard lock(mutex_);
  ClearBarLocked();
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void ConsoleOutput::SetSong(const std::string& name) {
  std::lock_guard lock(mutex_);
  song_ = name;
  lastLine_.clear();
}

void ConsoleOutput::ShowProgress(const std::string& progressText, const std::string& elapsedText) {
  if (!showProgress_) return;
  std::lock_guard lock(mutex_);
  if (terminal_) {
    const int percent = std::atoi(progressText.c_str());
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\r\033[K%s [%s] %s %s", song_.c_str(), bar.c_str(), progressText.c_str(),
                 elapsedText.c_str());
    barShown_ = true;
  } else {
    // Plain lines for logs: only when the percentage moves.
    const std::string line = song_ + " " + progressText;
    if (line == lastLine_) return;
    lastLine_ = line;
    std::fprintf(stderr, "%s %s\n", line.c_str(), elapsedText.c_str());
  }
  std::fflush(stderr);
}

void ConsoleOutput::EndProgress() {
  std::lock_guard lock(mutex_);
  if (barShown_) {
    std::fputs("\n", stderr);
    barShown_ = false;
  }
}

}  // namespace velorna::cli
