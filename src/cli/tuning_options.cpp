#include "cli/tuning_options.h"

#include <cstdio>
#include <string>

#include "conversion/scale_file.h"
#include "tuning/channel_tuning.h"
#include "tuning/tuning_choice.h"

namespace velorna::cli {

namespace {

constexpr int kOctaveOfKeyZero = -1;  // key 0 is C-1, so that key 60 is C4
constexpr const char* kPitchNames[kPitchClassCount] = {"C",  "C#", "D",  "D#", "E",  "F",
                                                       "F#", "G",  "G#", "A",  "A#", "B"};

std::optional<TuningSource> ReadSource(const CliOptions& o, Reporter& reporter) {
  if (o.cents) return *o.cents;
  if (o.preset) return *o.preset;
  if (!o.scaleFile.empty()) {
    ScaleLoadError error = ScaleLoadError::kNone;
    const auto scale = LoadScaleFile(o.scaleFile, &error);
    if (!scale) {
      reporter.ShowText(error == ScaleLoadError::kTooShort
                            ? "not a scale file (shorter than 64 bytes): " + o.scaleFile
                            : "cannot read the scale file: " + o.scaleFile);
      return std::nullopt;
    }
    return scale->cents;
  }
  if (!o.sclFile.empty()) {
    std::optional<ScalaSource> source = ReadScalaSource(o.sclFile, o.kbmFile, reporter);
    if (!source) return std::nullopt;
    return std::move(*source);
  }
  return kPureIntervalCents;
}

}  // namespace

std::optional<Tuning> ResolveTuning(const CliOptions& options, Reporter& reporter) {
  std::optional<TuningSource> source = ReadSource(options, reporter);
  if (!source) return std::nullopt;
  const int tonic = options.tonicIndex.value_or(kDefaultTonicIndex);
  Tuning tuning = BuildTuning({std::move(*source), tonic, options.a4Hz});
  for (const auto& [channel, name] : options.channelTunings) {
    std::optional<ChannelKeys> keys =
        ReadChannelTuning(channel, name, tonic, options.a4Hz, reporter);
    if (!keys) return std::nullopt;
    tuning.channels.push_back(std::move(*keys));
  }
  return tuning;
}

std::string ReferenceHeading(const Tuning& tuning) {
  const std::optional<double> a4 = A4FrequencyHz(tuning);
  char hz[32] = "unmapped";
  if (a4) std::snprintf(hz, sizeof hz, "%.3f Hz", *a4);
  return std::string("# A4 ") + hz +
         "; cents from each key's equal-tempered pitch at A4 = 440 Hz\n";
}

void PrintTuningTable(const Tuning& tuning) {
  std::printf("%s", ReferenceHeading(tuning).c_str());
  std::printf("# key name Hz cents\n");
  for (int key = 0; key < kKeyCount; ++key) {
    const std::string name = std::string(kPitchNames[key % kPitchClassCount]) +
                             std::to_string(key / kPitchClassCount + kOctaveOfKeyZero);
    const KeyTarget& target = tuning.keys[static_cast<size_t>(key)];
    if (target) {
      std::printf("%d %s %.4f %.3f\n", key, name.c_str(), KeyFrequencyHz(key, *target), *target);
    } else {
      std::printf("%d %s x x\n", key, name.c_str());
    }
  }
}

void PrintPresets(const MessageCatalog& messages) {
  for (const PresetInfo& p : Presets()) {
    std::printf("%s\t%s\t%s\n", p.name, messages.Translate(p.displayName).c_str(), p.source);
  }
}

}  // namespace velorna::cli
