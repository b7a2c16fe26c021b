#include "conversion/conversion_job.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "audio/audio_messages.h"
#include "audio/mix_accumulator.h"
#include "audio/rendering_service.h"
#include "audio/sound_file_writer.h"
#include "base/library_error.h"
#include "conversion/conversion_messages.h"
#include "conversion/fast_conversion.h"
#include "conversion/file_engine.h"
#include "conversion/job_files.h"
#include "conversion/memory_policy.h"
#include "conversion/song_loading.h"
#include "midi/midi_types.h"
#include "tuning/adaptive.h"
#include "tuning/played_tuning.h"

namespace velorna {

namespace {

constexpr int kComplete = 100;

// The notes a prepared song strikes, drums among them.
int64_t CountNotes(const MidiFormat0Data& song) {
  int64_t notes = 0;
  if (song.track)
    for (const MidiEvent& e : song.track->events) notes += e.status == st::kNote;
  return notes;
}

std::unique_ptr<RenderEngine> MakeEngine(const ConversionOptions& options, int workers) {
  return options.engine == Engine::kFast ? MakeFastEngine(workers) : MakeFileEngine();
}

ConversionResult Convert(const std::string& path, const ConversionOptions& options,
                         JobControl& control, JobObserver& observer, OnceReporter& once) {
  const SynthLogRoute log(options.verbose ? &once : nullptr);
  // A rate the synthesizer can't render at is refused before any work.
  if (!IsOutputRate(options.outputFormat.sampleRate)) {
    once.ShowText(audio_msg::kWrongFormat);
    return ConversionResult::kNotWritten;
  }
  // A Stop before the start costs no loading and leaves the old output as it stands.
  if (control.m_cancel.load() != 0) return ConversionResult::kStoppedBeforeSound;
  const WorkerFit fit = FitWorkersFor(options);
  if (fit.refused) {
    once.ShowText(audio_msg::kOutOfMemory);
    return ConversionResult::kNotWritten;
  }
  // The song first: one that cannot be read fails at once, not after the SoundFont's load.
  MidiContext ctx(once);
  ctx.stop = &control.m_cancel;
  std::unique_ptr<MidiFormat0Data> song;
  int seconds = 0;
  PlayingTime playing;
  if (!LoadAndPrepareSong(ctx, path, options.fileOpenHook, song, seconds, &playing)) {
    return control.m_cancel.load() != 0 ? ConversionResult::kStoppedBeforeSound
                                        : ConversionResult::kNotWritten;
  }
  control.m_notes = CountNotes(*song);
  std::unique_ptr<LoadedSoundFont> font = ResolveSoundFont(once, options.soundFont);
  if (!font) return ConversionResult::kNotWritten;
  PassPoint(control, JobPoint::kLoaded);
  if (options.adaptive && !IsTwelveToneOctave(options.tuning.keys)) {
    once.ShowText(conversion_msg::kAdaptiveNeedsTwelveTones);
    return ConversionResult::kNotWritten;
  }
  if (control.m_cancel.load() != 0) return ConversionResult::kStoppedBeforeSound;
  const std::string output = options.outputPath.empty() ? OutputPathFor(path) : options.outputPath;
  if (!FolderTakesNewFile(output)) {
    once.ShowText(conversion_msg::kCannotOpen);
    return ConversionResult::kNotWritten;
  }
  // The mix and every rendering are at the output's rate.
  const int rate = options.outputFormat.sampleRate;
  const CWaveData mixFormat = MixFormat(rate);
  const auto [songFrames, endFrames] = MixLengthOf(seconds, playing, rate);
  // Opened before the work: the mix goes out as it is finished, and an output that cannot
  // be written, or could not hold the song, costs no rendering.
  OutputFormat format = options.outputFormat;
  format.measureRange = format.measureRange || options.verbose;
  std::unique_ptr<SoundFileStream> out = SoundFileStream::Open(
      once, mixFormat, format, output, songFrames, endFrames, false, options.outputType);
  if (!out) return ConversionResult::kNotWritten;

  control.m_progress = 0;
  ShowProgress(control, observer);
  // Chosen on the prepared song: the pitches belong to its note events.
  const Tuning played =
      PlayedTuning(options.tuning, *song, options.adaptive, options.ignoreSongTuning);
  EngineTask task{*song, played, std::move(font), control, observer, once, rate};
  // An engine whose rendering never started has nothing to write: a silent WAV would pass
  // for a conversion.
  if (!MakeEngine(options, fit.workers)->MixAll(task, *out)) return ConversionResult::kNotWritten;

  // The engine ended the output where a Stop cut the mix; a Stop that cut nothing (it came
  // after the last rendering) leaves a whole conversion.
  const bool cut = control.m_cancel.load() != 0 && out->endFrame() < endFrames;
  control.songSeconds = static_cast<double>(songFrames) / rate;
  control.writtenSeconds = static_cast<double>(out->endFrame()) / rate;
  if (cut && out->endFrame() <= 0) return ConversionResult::kStoppedBeforeSound;
  PassPoint(control, JobPoint::kWriting);
  const bool written = out->Close();
  const OutputLevel level = out->level();
  out.reset();
  control.m_progress =
      cut ? static_cast<int>(kComplete * std::min(1.0, control.writtenSeconds /
                                                           std::max(control.songSeconds, 1.0)))
          : kComplete;
  ShowProgress(control, observer);
  if (!written) return ConversionResult::kNotWritten;
  if (level.clippedSamples > 0) {
    ShowLibraryError(once, LibraryModule::LEVL, code::kLevlClipped,
                     std::to_string(level.clippedSamples) + " " + std::string(msg::kClipped),
                     ReportKind::kWarning);
  }
  once.Show(Report{{}, std::nullopt, conversion_msg::kFinished, ReportKind::kFinished, level});
  return cut ? ConversionResult::kWrittenAfterStop : ConversionResult::kWritten;
}

std::string Decibels(double value, const char* unit) {
  if (!std::isfinite(value)) return std::string("-inf ") + unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, unit);
  return text;
}

}  // namespace

WorkerFit FitWorkersFor(const ConversionOptions& options) {
  std::error_code ec;
  const std::string font = options.soundFont.empty() ? DefaultSoundFontPath() : options.soundFont;
  const auto bytes = std::filesystem::file_size(font, ec);
  return FitWorkers(options.jobs, ec ? 0 : static_cast<int64_t>(bytes), AddressSpaceLimit());
}

std::string LevelText(const OutputLevel& level) {
  std::string text = std::string(conversion_msg::kPeak) + " " + Decibels(level.peakDb, "dBFS");
  const auto add = [&](const char* name, const std::optional<double>& value, const char* unit) {
    if (value) text += std::string(" / ") + name + " " + Decibels(*value, unit);
  };
  add(conversion_msg::kLoudness, level.loudness, "LUFS");
  add(conversion_msg::kLoudnessRange, level.loudnessRange, "LU");
  add(conversion_msg::kTruePeak, level.truePeakDb, "dBTP");
  return text;
}

ConversionResult RunConversion(const std::string& path, const ConversionOptions& options,
                               JobControl& control, JobObserver& observer, Reporter& reporter) {
  OnceReporter once(reporter);
  try {
    return Convert(path, options, control, observer, once);
  } catch (const std::bad_alloc&) {
    // Whatever was made so far (temporary files among it) has been undone on the way out.
    once.ShowText(audio_msg::kOutOfMemory);
    return ConversionResult::kNotWritten;
  }
}

}  // namespace velorna
