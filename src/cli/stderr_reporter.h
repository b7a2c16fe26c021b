// Messages of the system as lines on stderr, each naming its song; the progress display
// shares the stream: one line redrawn in place on a terminal, plain lines elsewhere.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/reporter.h"
#include "conversion/conversion_job.h"
#include "language/message_translation.h"

namespace velorna::cli {

struct ConsoleMode {
  bool progress = true;   // show progress at all
  bool terminal = false;  // stderr is a terminal: redraw one line in place
  bool quiet = false;     // nothing on success; a failed song's messages at its end
};

// Off a terminal a song's progress is a line only when it has moved this far since the last
// one, or after this long: a log of thousands of songs stays readable.
inline constexpr int kLogPercentStep = 10;
inline constexpr std::chrono::seconds kLogInterval{10};

// The stream all songs share: the progress bar, the counts of a batch, and messages that
// belong to no song (or to the one song BeginSong names, for inspect).
class ConsoleOutput final : public Reporter {
 public:
  // Messages are shown in the catalogue's language.
  ConsoleOutput(ConsoleMode mode, const MessageCatalog& messages)
      : mode_(mode), messages_(messages) {}

  void Show(const Report& report) override;
  // From here on, messages without a song of their own belong to the song called `name`.
  void BeginSong(const std::string& name);
  // After more than one song: how many were converted, skipped, stopped and failed, and the
  // time.
  void EndBatch();

 private:
  friend class SongConsole;
  using Clock = std::chrono::steady_clock;

  void Print(const std::string& line);
  void PrintLocked(const std::string& line);
  void Bar(const std::string& song, int percent, double elapsedSeconds);

  std::mutex mutex_;
  ConsoleMode mode_;
  const MessageCatalog& messages_;
  bool barShown_ = false;
  std::string song_;
  std::vector<std::string> clipped_;  // songs whose outputs clipped, with their counts
  Clock::time_point batchStart_ = Clock::now();
  int converted_ = 0;
  int skipped_ = 0;
  int stopped_ = 0;
  int failed_ = 0;
};

// How far a stopped song got: the song time written of the song's own length.
struct StopPoint {
  double writtenSeconds = 0;
  double songSeconds = 0;
};

// One song's messages and progress, on the shared console; several may run at once.
class SongConsole final : public Reporter, public JobObserver {
 public:
  SongConsole(ConsoleOutput& console, std::string name);

  void Show(const Report& report) override;
  void ShowProgress(const JobProgress& progress) override;

  // Closes the song with one line: where its output went and the time taken, or that it
  // failed; a stopped song's output may have been removed (`kept` false).
  void End(ConversionResult result, const std::string& outputPath, bool kept = true,
           StopPoint stop = {});
  // The song's output exists already and --skip-existing keeps it.
  void Skip(const std::string& outputPath);

  // The codes of the messages the song gave ("MDLD00000003"), in order.
  std::vector<std::string> Codes() const;
  double Seconds() const;
  // The level of the song's output as written; none before it is written.
  std::optional<OutputLevel> Level() const;

 private:
  using Clock = std::chrono::steady_clock;

  ConsoleOutput& console_;
  const std::string name_;
  const Clock::time_point start_ = Clock::now();
  mutable std::mutex mutex_;
  std::vector<std::string> held_;  // a quiet song's messages until it ends
  std::vector<std::string> codes_;
  std::optional<OutputLevel> level_;  // the song's output, once written
  int loggedPercent_ = -1;
  Clock::time_point loggedAt_;
};

}  // namespace velorna::cli
