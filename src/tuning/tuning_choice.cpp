#include "tuning/tuning_choice.h"

namespace velorna {

namespace {

struct KeysOf {
  int tonicPitchClass;
  std::optional<double> a4Hz;

  KeyTable operator()(const CentTable& onC) const {
    return KeyTableFromCents(TransposeOffsets(onC, tonicPitchClass));
  }
  KeyTable operator()(PresetId id) const {
    return KeyTableFromCents(PresetOffsets(id, tonicPitchClass));
  }
  KeyTable operator()(const ScalaSource& source) const {
    KeyboardMap map = TransposeKeyboardMap(source.map.value_or(DefaultKeyboardMap()),
                                           NearestTonicShift(tonicPitchClass));
    const KeyTable keys = KeyTableFromScala(source.scale, map);
    if (!a4Hz || keys[kA4Key]) return keys;
    // A4 unmapped: the reference pitch replaces the mapping's own, never adds to it.
    map.referenceHz = *a4Hz;
    return KeyTableFromScala(source.scale, map);
  }
};

}  // namespace

Tuning BuildTuning(const TuningChoice& choice) {
  Tuning tuning;
  tuning.keys = std::visit(KeysOf{TonicPitchClass(choice.tonicIndex), choice.a4Hz}, choice.source);
  const KeyTarget a4 = tuning.keys[kA4Key];
  if (choice.a4Hz && a4) {
    const double shift = ReferenceShiftCents(*choice.a4Hz) - *a4;
    for (KeyTarget& target : tuning.keys) {
      if (target) *target += shift;
    }
    // Exactly there, whatever the rounding of the sum.
    tuning.keys[kA4Key] = ReferenceShiftCents(*choice.a4Hz);
  }
  return tuning;
}

std::optional<double> A4FrequencyHz(const Tuning& tuning) {
  const KeyTarget& a4 = tuning.keys[kA4Key];
  if (!a4) return std::nullopt;
  return KeyFrequencyHz(kA4Key, *a4);
}

}  // namespace velorna
