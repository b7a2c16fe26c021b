// One conversion: a MIDI file in, its retuned WAV out. The job knows no front end: it
// takes the offsets and options in, and reports progress, elapsed time and messages out.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "audio/sound_file_writer.h"
#include "base/reporter.h"
#include "conversion/note_retune.h"
#include "midi/smf_reader.h"

namespace velorna {

enum class Engine { kFast, kFiles };

struct ConversionOptions {
  CentTable cents = kPureIntervalCents;
  std::string soundFont;   // empty: the first default SoundFont that exists
  std::string outputPath;  // empty: the input's base name + ".wav"
  // Depth and level of the output; its type follows outputPath's extension.
  OutputFormat outputFormat;
  Engine engine = Engine::kFast;
  int jobs = 0;          // worker threads for the fast engine; 0: one per core
  bool verbose = false;  // pass the synthesizer's own log on as messages
  FileOpenHook fileOpenHook;
};

// Points a running job passes, for tests that place a Stop exactly: the song is loaded,
// the drum copy is about to be rendered, the next event is about to be looked at, the output is
// about to be written.
enum class JobPoint { kLoaded, kDrumPass, kNote, kWriting };

// Shared between the job and its front end. The front end sets m_cancel; the job writes
// m_progress. m_startTick is taken when the worker starts.
struct JobControl {
  std::atomic<int> m_cancel{0};
  std::atomic<int> m_progress{0};
  std::atomic<int> m_running{0};
  std::chrono::steady_clock::time_point m_startTick = std::chrono::steady_clock::now();
  std::function<void(JobPoint)> testHook;  // called by whichever thread reaches the point
};

inline void PassPoint(JobControl& control, JobPoint point) {
  if (control.testHook) control.testHook(point);
}

// What the job tells its front end besides messages.
class JobObserver {
 public:
  virtual ~JobObserver() = default;
  // progressText: "%d％"; elapsedText: "%02d:%02d".
  virtual void ShowProgress(const std::string& progressText, const std::string& elapsedText) = 0;
};

// Refreshes the progress ("%d％") and elapsed-time ("%02d:%02d") texts.
void ShowProgress(const JobControl& control, JobObserver& observer);

enum class ConversionResult { kWritten, kWrittenAfterStop, kNotWritten };

ConversionResult RunConversion(const std::string& path, const ConversionOptions& options,
                               JobControl& control, JobObserver& observer, Reporter& reporter);

}  // namespace velorna
