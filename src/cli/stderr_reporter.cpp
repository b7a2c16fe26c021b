#include "cli/stderr_reporter.h"

#include <unistd.h>

#include <cstdio>

#include "base/display_text.h"
#include "base/progress_time.h"
#include "cli/progress_line.h"

namespace velorna::cli {
namespace {

constexpr char kClearLine[] = "\r\033[K";
// The command line's own words, in Japanese and translated like every other message, so that
// a run speaks one language throughout.
constexpr char kNotConvertedText[] = "変換できませんでした。";
constexpr char kStoppedText[] = "停止しました。ここまでの内容の出力先:";
constexpr char kStoppedRemovedText[] = "停止しました。未完成の出力は削除しました。";
constexpr char kStoppedUntouchedText[] = "何も書き出す前に停止しました。元のままの出力先:";
constexpr char kSkippedText[] = "出力が既にあるため飛ばしました:";

double SecondsOf(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// One message, one line: the few texts with a line break keep it as a blank.
// Names from files inside a message are escaped, so that none can drive the terminal or
// forge a line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return EscapeForDisplay(text);
}

}  // namespace

void ConsoleOutput::PrintLocked(const std::string& line) {
  if (barShown_) {
    std::fputs(kClearLine, stderr);
    barShown_ = false;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void ConsoleOutput::Print(const std::string& line) {
  std::lock_guard lock(mutex_);
  PrintLocked(line);
}

void ConsoleOutput::Bar(const std::string& song, int percent, double elapsedSeconds) {
  std::lock_guard lock(mutex_);
  const std::string line =
      ProgressLine(song, percent, elapsedSeconds, TerminalColumns(STDERR_FILENO));
  std::fprintf(stderr, "%s%s", kClearLine, line.c_str());
  barShown_ = true;
  std::fflush(stderr);
}

void ConsoleOutput::Show(const Report& report) {
  const std::string text = OneLine(messages_.Translate(report.text));
  std::lock_guard lock(mutex_);
  PrintLocked(song_.empty() ? text : song_ + ": " + text);
}

void ConsoleOutput::BeginSong(const std::string& name) {
  std::lock_guard lock(mutex_);
  song_ = EscapeForDisplay(name);
}

void ConsoleOutput::EndBatch() {
  std::lock_guard lock(mutex_);
  const int songs = converted_ + skipped_ + stopped_ + failed_;
  if (songs < 2 || (mode_.quiet && failed_ == 0 && clipped_.empty())) return;
  // Built in Japanese and translated whole, numbers and all, like the system's messages.
  std::string line = std::to_string(songs) + " 曲: 変換 " + std::to_string(converted_) + "、失敗 " +
                     std::to_string(failed_);
  if (skipped_ > 0) line += "、スキップ " + std::to_string(skipped_);
  if (stopped_ > 0) line += "、停止 " + std::to_string(stopped_);
  PrintLocked(messages_.Translate(line) + " (" +
              DurationText(SecondsOf(Clock::now() - batchStart_)) + ")");
  if (clipped_.empty()) return;
  std::string names;
  for (const std::string& song : clipped_) names += (names.empty() ? "" : ", ") + song;
  PrintLocked(messages_.Translate("音割れ " + std::to_string(clipped_.size()) + " 曲:") + " " +
              names);
}

SongConsole::SongConsole(ConsoleOutput& console, std::string name)
    : console_(console), name_(EscapeForDisplay(name)) {}

double SongConsole::Seconds() const {
  return SecondsOf(Clock::now() - start_);
}

std::optional<OutputLevel> SongConsole::Level() const {
  std::lock_guard lock(mutex_);
  return level_;
}

std::vector<std::string> SongConsole::Codes() const {
  std::lock_guard lock(mutex_);
  return codes_;
}

void SongConsole::Show(const Report& report) {
  const std::string line = name_ + ": " + OneLine(console_.messages_.Translate(report.text));
  {
    std::lock_guard lock(mutex_);
    if (report.code) codes_.push_back(CodeText(report.module, report.code));
    if (report.kind == ReportKind::kFinished && report.level) level_ = report.level;
    if (console_.mode_.quiet && report.kind != ReportKind::kWarning) {
      held_.push_back(line);
      return;
    }
  }
  console_.Print(line);
}

void SongConsole::ShowProgress(const JobProgress& progress) {
  const ConsoleMode& mode = console_.mode_;
  if (!mode.progress || mode.quiet) return;
  const double elapsed = SecondsOf(progress.elapsed);
  if (mode.terminal) {
    console_.Bar(name_, progress.percent, elapsed);
    return;
  }
  {
    // Plain lines for logs, few of them: a step of the percentage, or a while gone by.
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    const bool first = loggedPercent_ < 0;
    const bool moved = progress.percent / kLogPercentStep > loggedPercent_ / kLogPercentStep;
    const bool waited = progress.percent > loggedPercent_ && now - loggedAt_ >= kLogInterval;
    if (!first && !moved && !waited) return;
    loggedPercent_ = progress.percent;
    loggedAt_ = now;
  }
  const auto remaining = RemainingSeconds(elapsed, progress.percent);
  console_.Print(name_ + ": " + std::to_string(progress.percent) + "% " + ClockText(elapsed) +
                 " ETA " + (remaining ? ClockText(*remaining) : std::string("--:--")));
}

void SongConsole::End(ConversionResult result, const std::string& outputPath, bool kept,
                      StopPoint stop) {
  // The output's name comes from the song's: shown escaped like it.
  const std::string shownOutput = EscapeForDisplay(outputPath);
  std::string took = " (" + DurationText(Seconds()) + ")";
  std::vector<std::string> held;
  std::optional<OutputLevel> level;
  {
    std::lock_guard lock(mutex_);
    held.swap(held_);
    level = level_;
  }
  // Only an output that was written has a level to report.
  const bool wrote = OutputWritten(result);
  if (level && wrote) took += " " + console_.messages_.Translate(LevelText(*level));
  std::lock_guard lock(console_.mutex_);
  if (level && level->clippedSamples > 0 && wrote)
    console_.clipped_.push_back(name_ + " (" + std::to_string(level->clippedSamples) + ")");
  switch (result) {
    case ConversionResult::kWritten:
      ++console_.converted_;
      if (!console_.mode_.quiet) console_.PrintLocked(name_ + " -> " + shownOutput + took);
      break;
    case ConversionResult::kWrittenAfterStop:
      // A stop is no success: said even under --quiet.
      ++console_.stopped_;
      for (const std::string& line : held) console_.PrintLocked(line);
      console_.PrintLocked(
          name_ +
          (kept ? ": " + console_.messages_.Translate(kStoppedText) + " " + shownOutput
                : ": " + console_.messages_.Translate(kStoppedRemovedText)) +
          " [" + ClockText(stop.writtenSeconds) + " / " + ClockText(stop.songSeconds) + "]" + took);
      break;
    case ConversionResult::kStoppedBeforeSound:
      ++console_.stopped_;
      for (const std::string& line : held) console_.PrintLocked(line);
      console_.PrintLocked(name_ + ": " + console_.messages_.Translate(kStoppedUntouchedText) +
                           " " + shownOutput + took);
      break;
    case ConversionResult::kNotWritten:
      ++console_.failed_;
      for (const std::string& line : held) console_.PrintLocked(line);
      console_.PrintLocked(name_ + ": " + console_.messages_.Translate(kNotConvertedText) + took);
      break;
  }
}

void SongConsole::Skip(const std::string& outputPath) {
  std::lock_guard lock(console_.mutex_);
  ++console_.skipped_;
  if (!console_.mode_.quiet)
    console_.PrintLocked(name_ + ": " + console_.messages_.Translate(kSkippedText) + " " +
                         EscapeForDisplay(outputPath));
}

}  // namespace velorna::cli
