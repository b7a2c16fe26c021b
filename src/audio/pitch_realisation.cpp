#include "audio/pitch_realisation.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/limits.h"
#include "midi/midi_constants.h"

namespace velorna {

namespace {

// The default pitch-wheel modulator: its amount, and the scale of its secondary source (the
// range's semitones).
constexpr double kWheelAmountCents = 12700;
constexpr double kSensitivityScale = 128;
// A contribution at least this far from a whole cent truncates the same way whatever the
// synthesizer's own rounding of the key and bend terms (far below a thousandth of a cent).
constexpr double kSafeFraction = 0.1;
constexpr double kMidway = 0.5;
// Bends tried around the one nearest the midway point: at wide ranges one step of the
// wheel spans more than a cent, and the nearest may sit too close to a whole cent.
constexpr int kBelowNearest = 3;
constexpr int kAboveNearest = 1;
constexpr double kCentsPerOctave = 1200;

struct Candidate {
  int bend;
  double whole;     // the whole cents the synthesizer makes of it
  double fraction;  // how far above them the contribution lies
};

std::optional<Candidate> SafeCandidate(int bend, int semitones, double cents,
                                       const VoicePitch& voice) {
  const double pitch = voice.computed + WheelCents(bend, semitones);
  const double fraction = pitch - std::floor(pitch);
  const double whole = SoundedCents(bend, semitones, voice);
  if (whole > cents || fraction < kSafeFraction || fraction > 1 - kSafeFraction)
    return std::nullopt;
  return Candidate{bend, whole, fraction};
}

// Higher whole cents first (the rate adds least), then the contribution nearest midway.
bool Better(const Candidate& a, const Candidate& b) {
  if (a.whole != b.whole) return a.whole > b.whole;
  return std::fabs(a.fraction - kMidway) < std::fabs(b.fraction - kMidway);
}

int ClampedBend(double bend) {
  return static_cast<int>(std::clamp(bend, 0.0, static_cast<double>(kMaxBend)));
}

}  // namespace

double WheelCents(int bend, int semitones) {
  return kWheelAmountCents * (bend - kCentreBend) / kCentreBend * semitones / kSensitivityScale;
}

double SoundedBendCents(int bend, int semitones) {
  return std::floor(WheelCents(bend, semitones));
}

double SoundedCents(int bend, int semitones, const VoicePitch& voice) {
  return std::floor(voice.computed + WheelCents(bend, semitones)) - voice.exact;
}

PitchRealisation RealisePitch(double cents, int semitones, const VoicePitch& voice) {
  PitchRealisation p;
  p.bendCents = SoundedCents(kCentreBend, semitones, voice);
  if (!std::isfinite(cents)) return p;
  // Nothing to move: the centred wheel contributes exactly nothing, as in a single pass.
  if (cents == 0 && p.bendCents == 0) return p;
  if (semitones > 0) {
    const double perStep = WheelCents(kCentreBend + 1, semitones);
    // The wheel that puts the voice midway into the highest whole cent not above the target.
    const double aim = std::floor(voice.exact + cents) + kMidway - voice.computed;
    const int nearest = ClampedBend(std::round(kCentreBend + aim / perStep));
    std::optional<Candidate> best;
    for (int bend = nearest - kBelowNearest; bend <= nearest + kAboveNearest; ++bend) {
      const auto c = SafeCandidate(ClampedBend(bend), semitones, cents, voice);
      if (c && (!best || Better(*c, *best))) best = c;
    }
    // None: the target lies below the wheel's reach, which then sounds its lowest.
    p.bend = best ? best->bend : nearest;
    p.bendCents = best ? best->whole : SoundedCents(nearest, semitones, voice);
  }
  p.rateShiftCents = std::clamp(cents - p.bendCents, 0.0, kMaxRateShiftCents);
  return p;
}

RenderRates RenderRateFor(double rateShiftCents, int outputRate) {
  if (rateShiftCents == 0) return {outputRate, static_cast<double>(outputRate)};
  return {outputRate, outputRate * std::exp2(-rateShiftCents / kCentsPerOctave)};
}

}  // namespace velorna
