#include "cli/stderr_reporter.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "base/progress_time.h"
#include "cli/progress_line.h"

namespace velorna::cli {
namespace {

constexpr char kClearLine[] = "\r\033[K";

}  // namespace

double ConsoleOutput::SecondsSince(Clock::time_point start) const {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void ConsoleOutput::ClearBarLocked() {
  if (barShown_) {
    std::fputs(kClearLine, stderr);
    barShown_ = false;
  }
}

void ConsoleOutput::PrintLocked(const std::string& line) {
  ClearBarLocked();
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void ConsoleOutput::Show(const Report& report) {
  std::string text = messages_.Translate(report.text);
  // One message, one line: the few texts with a line break keep it as a blank.
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  std::lock_guard lock(mutex_);
  if (report.kind == ReportKind::kFinished && report.level) level_ = report.level;
  const std::string line = song_.empty() ? text : song_ + ": " + text;
  if (mode_.quiet && report.kind != ReportKind::kWarning) {
    held_.push_back(line);
  } else {
    PrintLocked(line);
  }
}

void ConsoleOutput::BeginSong(const std::string& name) {
  std::lock_guard lock(mutex_);
  song_ = name;
  level_.reset();
  lastLine_.clear();
  held_.clear();
  songStart_ = Clock::now();
}

void ConsoleOutput::ShowProgress(const std::string& progressText, const std::string&) {
  if (!mode_.progress || mode_.quiet) return;
  std::lock_guard lock(mutex_);
  const double elapsed = SecondsSince(songStart_);
  const int percent = std::atoi(progressText.c_str());
  if (mode_.terminal) {
    const std::string line = ProgressLine(song_, percent, elapsed, TerminalColumns(STDERR_FILENO));
    std::fprintf(stderr, "%s%s", kClearLine, line.c_str());
    barShown_ = true;
  } else {
    // Plain lines for logs: only when the percentage moves.
    if (progressText == lastLine_) return;
    lastLine_ = progressText;
    const auto remaining = RemainingSeconds(elapsed, percent);
    std::fprintf(stderr, "%s: %s %s ETA %s\n", song_.c_str(),
                 messages_.Translate(progressText).c_str(), ClockText(elapsed).c_str(),
                 remaining ? ClockText(*remaining).c_str() : "--:--");
  }
  std::fflush(stderr);
}

void ConsoleOutput::EndSong(ConversionResult result, const std::string& outputPath) {
  std::lock_guard lock(mutex_);
  std::string took = " (" + DurationText(SecondsSince(songStart_)) + ")";
  if (level_ && result != ConversionResult::kNotWritten) {
    took += " " + messages_.Translate(LevelText(*level_));
    if (level_->clippedSamples > 0)
      clipped_.push_back(song_ + " (" + std::to_string(level_->clippedSamples) + ")");
  }
  switch (result) {
    case ConversionResult::kWritten:
      ++converted_;
      if (!mode_.quiet) PrintLocked(song_ + " -> " + outputPath + took);
      break;
    case ConversionResult::kWrittenAfterStop:
      // A stop is no success: said even under --quiet.
      ++stopped_;
      for (const std::string& line : held_) PrintLocked(line);
      PrintLocked(song_ + ": stopped; what was mixed is in " + outputPath + took);
      break;
    case ConversionResult::kNotWritten:
      ++failed_;
      for (const std::string& line : held_) PrintLocked(line);
      PrintLocked(song_ + ": not converted" + took);
      break;
  }
  held_.clear();
  song_.clear();
  level_.reset();
}

void ConsoleOutput::EndBatch() {
  std::lock_guard lock(mutex_);
  const int songs = converted_ + stopped_ + failed_;
  if (songs < 2 || (mode_.quiet && failed_ == 0 && clipped_.empty())) return;
  std::string line = std::to_string(songs) + " songs: " + std::to_string(converted_) +
                     " converted, " + std::to_string(failed_) + " failed";
  if (stopped_ > 0) line += ", " + std::to_string(stopped_) + " stopped";
  PrintLocked(line + " (" + DurationText(SecondsSince(batchStart_)) + ")");
  if (clipped_.empty()) return;
  std::string names;
  for (const std::string& song : clipped_) names += (names.empty() ? "" : ", ") + song;
  PrintLocked("clipped samples in " + std::to_string(clipped_.size()) + " of them: " + names);
}

}  // namespace velorna::cli
