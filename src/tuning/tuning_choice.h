// A tuning as a user chooses it: one source, laid on a tonic, at a reference pitch. The
// command line and the dialog both build their Tuning through here.
#pragma once

#include <optional>
#include <variant>

#include "tuning/presets.h"
#include "tuning/scala.h"
#include "tuning/tuning.h"

namespace velorna {

inline constexpr double kMinA4Hz = 380.0;
inline constexpr double kMaxA4Hz = 500.0;

struct ScalaSource {
  Scale scale;
  std::optional<KeyboardMap> map;  // none: degree 0 on key 60, one degree per key
};

// Twelve offsets given on C, a preset, or a Scala scale.
using TuningSource = std::variant<CentTable, PresetId, ScalaSource>;

struct TuningChoice {
  TuningSource source = kPureIntervalCents;
  int tonicIndex = kDefaultTonicIndex;  // into kTonicNames
  // The frequency A4 sounds at, as musicians mean a reference pitch. None: offsets stand
  // from equal temperament at 440 Hz, and a .kbm keeps its own reference frequency.
  std::optional<double> a4Hz;
};

// The tonic moves every source alike: offsets and presets are laid on it (pitch class
// tonic + d takes degree d), and a Scala mapping is moved by the tonic's nearest distance from
// C (-5..+6 semitones), its pitches with it. A reference pitch then moves the whole tuning so
// that A4 sounds at it; where the tuning leaves A4 unmapped, it replaces the .kbm's reference
// frequency instead (its reference key sounds at it). With the defaults this is exactly
// Tuning{}.
Tuning BuildTuning(const TuningChoice& choice);

// The frequency A4 sounds at in `tuning`; none when the tuning leaves it unmapped.
std::optional<double> A4FrequencyHz(const Tuning& tuning);

}  // namespace velorna
