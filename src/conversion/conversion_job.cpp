#include "conversion/conversion_job.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/mix_accumulator.h"
#include "audio/rendering_service.h"
#include "audio/sound_file_writer.h"
#include "conversion/drum_copy.h"
#include "conversion/fast_conversion.h"
#include "conversion/job_files.h"
#include "conversion/song_loading.h"
#include "midi/smf_writer.h"

namespace velorna {

namespace {

constexpr char kFinished[] = "変換が終了しました。";
constexpr char kCannotOpen[] = "ファイルが開けませんでした。";

// What one running job holds; the names follow the file-based road: every rendering goes
// through a temporary MIDI, AIFF and WAV file in the job's private folder.
struct FileJob {
  const ConversionOptions& options;
  JobControl& control;
  JobObserver& observer;
  Reporter& reporter;     // shows each distinct text once
  SilentReporter silent;  // the job's own temporary files report nothing
  RenderingService rendering;
  std::optional<MixAccumulator> accumulator;
  JobFiles files;
};

// Writes, renders and mixes one copy. A copy whose MIDI file could not be written is not
// rendered: the previous copy's file must never be mixed twice.
void RenderCopy(FileJob& job, MidiFormat0Data& copy) {
  MidiContext quiet(job.silent);
  if (!WriteSmf(quiet, copy, job.files.midi)) return;
  if (RenderMidiToWave(job.rendering, job.reporter, job.files.midi, job.files.wav))
    MixWaveFile(job.reporter, *job.accumulator, job.files.wav);
}

void DrumPass(FileJob& job, const MidiFormat0Data& song) {
  MidiContext quiet(job.silent);
  auto copy = BuildDrumCopy(quiet, song);
  PassPoint(job.control, JobPoint::kDrumPass);
  if (copy) RenderCopy(job, *copy);
}

void NotePasses(FileJob& job, const MidiFormat0Data& song) {
  const auto& events = song.track->events;
  const int64_t count = static_cast<int64_t>(events.size());
  MidiContext ctx(job.reporter);
  int64_t t = 0;
  for (int64_t i = 0; i < count; ++i) {
    PassPoint(job.control, JobPoint::kNote);
    if (job.control.m_cancel.load()) break;
    job.control.m_progress = static_cast<int>(100 * i / count);
    ShowProgress(job.control, job.observer);
    t += events[i].delta;
    if (events[i].status != st::kNote || events[i].channel == kDrumChannel) continue;
    auto copy = BuildSingleNoteCopy(ctx, song, static_cast<int32_t>(i), t, job.options.cents);
    if (copy) RenderCopy(job, *copy);
  }
}

}  // namespace

void ShowProgress(const JobControl& control, JobObserver& observer) {
  char progress[32];
  std::snprintf(progress, sizeof progress, "%d％", control.m_progress.load());
  const auto elapsed = std::chrono::steady_clock::now() - control.m_startTick;
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02lld:%02lld", seconds / 60, seconds % 60);
  observer.ShowProgress(progress, clock);
}

ConversionResult RunConversion(const std::string& path, const ConversionOptions& options,
                               JobControl& control, JobObserver& observer, Reporter& reporter) {
  OnceReporter once(reporter);
  FileJob job{options, control, observer, once, {}, {}, {}, {}};
  job.rendering.verbose = options.verbose;
  if (!StartRendering(job.rendering, once, options.soundFont)) return ConversionResult::kNotWritten;

  MidiContext ctx(once);
  std::unique_ptr<MidiFormat0Data> song;
  int seconds = 0;
  if (!LoadAndPrepareSong(ctx, path, options.fileOpenHook, song, seconds)) {
    StopRendering(job.rendering);
    return ConversionResult::kNotWritten;
  }
  PassPoint(control, JobPoint::kLoaded);
  const std::string output = options.outputPath.empty() ? OutputPathFor(path) : options.outputPath;
  if (!FolderTakesNewFile(output) || !MakeJobFiles(path, job.files)) {
    once.ShowText(kCannotOpen);
    StopRendering(job.rendering);
    return ConversionResult::kNotWritten;
  }
  job.accumulator = CreateMixAccumulator(once, seconds);
  if (!job.accumulator) {
    RemoveJobFiles(job.files);
    StopRendering(job.rendering);
    return ConversionResult::kNotWritten;
  }

  control.m_progress = 0;
  ShowProgress(control, observer);
  if (options.engine == Engine::kFast) {
    // A job whose rendering never started has nothing to write: a silent WAV would pass
    // for a conversion.
    // The engine renders with the SoundFont the service has just loaded, not a second copy.
    std::unique_ptr<LoadedSoundFont> font =
        job.rendering.state ? std::move(job.rendering.state->font) : nullptr;
    if (!MixAllRenderingsFast(*song, job.rendering.soundFontPath, std::move(font), options, control,
                              observer, once, *job.accumulator)) {
      RemoveJobFiles(job.files);
      StopRendering(job.rendering);
      return ConversionResult::kNotWritten;
    }
  } else {
    DrumPass(job, *song);
    NotePasses(job, *song);
  }

  // Finish.
  const bool stopped = control.m_cancel.load() != 0;
  RemoveJobFiles(job.files);
  PassPoint(control, JobPoint::kWriting);
  const bool written = WriteSoundFile(once, *job.accumulator, options.outputFormat, output);
  job.accumulator.reset();
  StopRendering(job.rendering);
  control.m_progress = 100;
  ShowProgress(control, observer);
  if (!written) return ConversionResult::kNotWritten;
  once.ShowText(kFinished);
  return stopped ? ConversionResult::kWrittenAfterStop : ConversionResult::kWritten;
}

}  // namespace velorna
