// The dialog's tuning beyond its twelve fields: a preset laid on the key, a Scala tuning, the
// reference pitch and adaptive intonation; what a conversion plays of it, and what a 64-byte
// scale file would lose of it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tuning/tuning_choice.h"

namespace velorna {

struct DialogTuning {
  CentTable offsets = kPureIntervalCents;  // per pitch class C..B, as the fields hold them
  int keyIndex = kDefaultTonicIndex;       // the key selector; -1: nothing selected
  std::optional<PresetId> preset;          // the offsets are this preset on the key
  std::optional<ScalaSource> scala;        // played instead of the offsets, on the key
  double a4Hz = kStandardA4Hz;
  bool adaptive = false;
};

// The key as a tonic; nothing selected counts as C.
int TonicIndexOf(const DialogTuning& tuning);
// The offsets the fields show are per pitch class already, so they are given on C; a preset
// and a Scala tuning are laid on the key.
TuningChoice ChoiceOf(const DialogTuning& tuning);
// Exact offsets per pitch class: the preset's on the key, else the fields'.
CentTable ExactOffsets(const DialogTuning& tuning);
// The octave from middle C of a tuning as the fields show it: the offsets, and the keys the
// tuning leaves unmapped (silent; their offsets count as 0).
struct ShownOctave {
  CentTable cents{};
  std::array<bool, kPitchClassCount> unmapped{};
};
ShownOctave MiddleOctave(const Tuning& tuning);
// That of a Scala tuning on the key at A4 = 440 Hz.
ShownOctave ScalaOctave(const ScalaSource& scala, int tonicIndex);

// What a scale file cannot hold of a tuning.
enum class ScaLoss { kFractions, kScala, kReferencePitch, kAdaptive };
std::vector<ScaLoss> ScaLosses(const DialogTuning& tuning);

// The tuning as .scl + .kbm (adaptive intonation plays per note and is not part of it);
// nullopt when the files cannot hold it.
std::optional<ScalaFiles> ScalaFilesOf(const DialogTuning& tuning, std::string description);

}  // namespace velorna
