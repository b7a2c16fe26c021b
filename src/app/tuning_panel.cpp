#include "app/tuning_panel.h"

#include <cmath>

namespace velorna {
namespace {

constexpr int kMiddleC = 60;
// Finer than a field's 0.1 cent, coarser than a double's noise.
constexpr double kWholeCentTolerance = 1e-9;

}  // namespace

int TonicIndexOf(const DialogTuning& tuning) {
  return tuning.keyIndex >= 0 && tuning.keyIndex < kTonicCount ? tuning.keyIndex
                                                               : kDefaultTonicIndex;
}

TuningChoice ChoiceOf(const DialogTuning& tuning) {
  TuningChoice choice;
  choice.a4Hz = tuning.a4Hz;
  if (tuning.scala) {
    choice.source = *tuning.scala;
    choice.tonicIndex = TonicIndexOf(tuning);
  } else if (tuning.preset) {
    choice.source = *tuning.preset;
    choice.tonicIndex = TonicIndexOf(tuning);
  } else {
    choice.source = tuning.offsets;
  }
  return choice;
}

CentTable ExactOffsets(const DialogTuning& tuning) {
  return tuning.preset ? PresetOffsets(*tuning.preset, TonicPitchClass(TonicIndexOf(tuning)))
                       : tuning.offsets;
}

ShownOctave MiddleOctave(const Tuning& tuning) {
  ShownOctave octave;
  for (size_t pc = 0; pc < octave.cents.size(); ++pc) {
    const KeyTarget& target = tuning.keys[static_cast<size_t>(kMiddleC) + pc];
    octave.cents[pc] = target.value_or(0.0);
    octave.unmapped[pc] = !target.has_value();
  }
  return octave;
}

ShownOctave ScalaOctave(const ScalaSource& scala, int tonicIndex) {
  return MiddleOctave(BuildTuning({scala, tonicIndex, kStandardA4Hz}));
}

std::vector<ScaLoss> ScaLosses(const DialogTuning& tuning) {
  std::vector<ScaLoss> losses;
  if (tuning.scala) {
    losses.push_back(ScaLoss::kScala);
  } else {
    for (const double cents : ExactOffsets(tuning)) {
      if (std::abs(cents - std::round(cents)) > kWholeCentTolerance) {
        losses.push_back(ScaLoss::kFractions);
        break;
      }
    }
  }
  if (tuning.a4Hz != kStandardA4Hz) losses.push_back(ScaLoss::kReferencePitch);
  if (tuning.adaptive) losses.push_back(ScaLoss::kAdaptive);
  return losses;
}

std::optional<ScalaFiles> ScalaFilesOf(const DialogTuning& tuning, std::string description) {
  if (tuning.scala) return ScalaFromKeyTable(BuildTuning(ChoiceOf(tuning)).keys, description);
  return ScalaFromOffsets(ExactOffsets(tuning), TonicPitchClass(TonicIndexOf(tuning)), tuning.a4Hz,
                          std::move(description));
}

}  // namespace velorna
