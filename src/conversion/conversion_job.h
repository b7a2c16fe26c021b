// One conversion: a MIDI file in, its retuned WAV out. The job knows no front end: it
// takes the tuning and options in, and reports progress, elapsed time and messages out.
// It loads the song and the SoundFont, owns the mix, and leaves the rendering to an engine.
#pragma once

#include <optional>
#include <string>

#include "audio/sound_file_writer.h"
#include "base/reporter.h"
#include "conversion/job_control.h"
#include "conversion/memory_policy.h"
#include "midi/smf_reader.h"
#include "tuning/tuning.h"

namespace velorna {

enum class Engine { kFast, kFiles };

struct ConversionOptions {
  Tuning tuning;
  // Every pitched note's pitch chosen over the whole song, starting from tuning's keys.
  bool adaptive = false;
  std::string soundFont;   // empty: the first default SoundFont that exists
  std::string outputPath;  // empty: the input's base name + ".wav"
  // Depth and level of the output; its type follows outputPath's extension.
  OutputFormat outputFormat;
  // The type where outputPath cannot tell it ("-": standard output).
  std::optional<SoundFileType> outputType;
  Engine engine = Engine::kFast;
  int jobs = 0;          // worker threads for the fast engine; 0: one per core
  bool verbose = false;  // pass the synthesizer's own log on as messages
  FileOpenHook fileOpenHook;
};

// kWrittenAfterStop: the output holds what was mixed before the Stop and ends there
// (JobControl says how far); kStoppedBeforeSound: a Stop came before anything was mixed, and
// the old output stands untouched.
enum class ConversionResult { kWritten, kWrittenAfterStop, kNotWritten, kStoppedBeforeSound };

// Whether the job left an output (whole, or as far as a Stop let it go).
[[nodiscard]] constexpr bool OutputWritten(ConversionResult result) {
  return result == ConversionResult::kWritten || result == ConversionResult::kWrittenAfterStop;
}

// The worker threads a conversion with `options` gets under the memory policy (see
// memory_policy.h), from the size of the SoundFont it will load.
[[nodiscard]] WorkerFit FitWorkersFor(const ConversionOptions& options);

// A written output closes with a kFinished report that carries its level; one that clipped
// is preceded by a warning (ReportKind::kWarning) with the count of clipped samples.
ConversionResult RunConversion(const std::string& path, const ConversionOptions& options,
                               JobControl& control, JobObserver& observer, Reporter& reporter);

// The level as the front ends show it: "ピーク -3.2 dBFS / ラウドネス -16.0 LUFS", with the
// loudness range and true peak where they were measured.
[[nodiscard]] std::string LevelText(const OutputLevel& level);

}  // namespace velorna
