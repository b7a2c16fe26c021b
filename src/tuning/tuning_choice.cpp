#include "tuning/tuning_choice.h"

namespace velorna {

namespace {

struct KeysOf {
  int tonicPitchClass;

  KeyTable operator()(const CentTable& onC) const {
    return KeyTableFromCents(TransposeOffsets(onC, tonicPitchClass));
  }
  KeyTable operator()(PresetId id) const {
    return KeyTableFromCents(PresetOffsets(id, tonicPitchClass));
  }
  KeyTable operator()(const ScalaSource& source) const {
    const KeyboardMap map = TransposeKeyboardMap(source.map.value_or(DefaultKeyboardMap()),
                                                 NearestTonicShift(tonicPitchClass));
    return KeyTableFromScala(source.scale, map);
  }
};

}  // namespace

Tuning BuildTuning(const TuningChoice& choice) {
  Tuning tuning;
  tuning.keys = std::visit(KeysOf{TonicPitchClass(choice.tonicIndex)}, choice.source);
  if (choice.a4Hz != kStandardA4Hz) {
    const double shift = ReferenceShiftCents(choice.a4Hz);
    for (KeyTarget& target : tuning.keys) {
      if (target) *target += shift;
    }
  }
  return tuning;
}

}  // namespace velorna
