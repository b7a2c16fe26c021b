// --report: one JSON line per song of a run, for scripts that follow a collection.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "conversion/conversion_job.h"

namespace velorna::cli {

enum class SongOutcome { kWritten, kStopped, kFailed, kSkipped };

[[nodiscard]] SongOutcome OutcomeOf(ConversionResult result);

struct SongRecord {
  std::string input;
  std::string output;
  SongOutcome result = SongOutcome::kFailed;
  std::vector<std::string> codes;  // of the song's messages, in order
  double seconds = 0;
  int64_t notes = 0;                 // struck by the song, drums among them
  std::optional<OutputLevel> level;  // of a written output
};

// {"input":"a.mid","output":"a.wav","result":"written","codes":[],"seconds":1.25,"notes":312,
//  "peak_dbfs":-3.21,"clipped_samples":0,"loudness_lufs":-17.4}
// The levels appear only for a written output; a silent one's peak and an ungated loudness
// are null, and the true peak and loudness range only when they were measured.
[[nodiscard]] std::string JsonLine(const SongRecord& record);

// The report file, written a line at a time by songs running side by side; each line is
// flushed as its song ends, so that an interrupted run keeps the record of what it did.
class SongReport {
 public:
  explicit SongReport(const std::string& path);
  ~SongReport();
  SongReport(const SongReport&) = delete;
  SongReport& operator=(const SongReport&) = delete;

  [[nodiscard]] bool IsOpen() const { return file_ != nullptr; }
  void Write(const SongRecord& record);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace velorna::cli
