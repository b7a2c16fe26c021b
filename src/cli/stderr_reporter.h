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

class ConsoleOutput final : public Reporter, public JobObserver {
 public:
  // Messages are shown in the catalogue's language.
  ConsoleOutput(ConsoleMode mode, const MessageCatalog& messages)
      : mode_(mode), messages_(messages) {}

  void Show(const Report& report) override;
  void ShowProgress(const std::string& progressText, const std::string& elapsedText) override;

  // From here on, messages and progress belong to the song called `name`.
  void BeginSong(const std::string& name);
  // Closes the song with one line: where its WAV went and the time taken, or that it failed.
  void EndSong(ConversionResult result, const std::string& outputPath);
  // After more than one song: how many were converted, stopped and failed, and the time.
  void EndBatch();

 private:
  using Clock = std::chrono::steady_clock;

  void PrintLocked(const std::string& line);
  void ClearBarLocked();
  double SecondsSince(Clock::time_point start) const;

  std::mutex mutex_;
  ConsoleMode mode_;
  const MessageCatalog& messages_;
  bool barShown_ = false;
  std::string song_;
  std::string lastLine_;
  std::vector<std::string> held_;     // a quiet song's messages until it ends
  std::optional<OutputLevel> level_;  // the song's output, once written
  std::vector<std::string> clipped_;  // songs whose outputs clipped, with their counts
  Clock::time_point songStart_ = Clock::now();
  Clock::time_point batchStart_ = Clock::now();
  int converted_ = 0;
  int stopped_ = 0;
  int failed_ = 0;
};

}  // namespace velorna::cli
