#include "tuning/tuning.h"

#include <cmath>

namespace velorna {

double ReferenceShiftCents(double a4Hz) {
  return kCentsPerOctave * std::log2(a4Hz / kStandardA4Hz);
}

KeyTable KeyTableFromCents(const CentTable& cents, double a4Hz) {
  const double shift = a4Hz == kStandardA4Hz ? 0.0 : ReferenceShiftCents(a4Hz);
  KeyTable keys;
  for (int key = 0; key < kKeyCount; ++key) {
    keys[static_cast<size_t>(key)] = cents[static_cast<size_t>(key % kPitchClassCount)] + shift;
  }
  return keys;
}

double KeyFrequencyHz(int key, double cents) {
  return kStandardA4Hz * std::exp2(((key - kA4Key) * kCentsPerSemitone + cents) / kCentsPerOctave);
}

KeyTarget TargetOf(const Tuning& tuning, int32_t eventIndex, int key) {
  if (eventIndex >= 0 && static_cast<size_t>(eventIndex) < tuning.notes.size()) {
    return tuning.notes[static_cast<size_t>(eventIndex)];
  }
  if (key < 0 || key >= kKeyCount) return std::nullopt;
  return tuning.keys[static_cast<size_t>(key)];
}

}  // namespace velorna
