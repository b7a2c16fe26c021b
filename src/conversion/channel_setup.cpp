#include "conversion/channel_setup.h"

#include <cmath>

namespace velorna {

namespace {

constexpr size_t kRhythmMapByte = 9;
// Full scale of a bend offset: the bend range moves the pitch by this many bend steps.
constexpr double kBendSteps = kCentreBend - 1;
constexpr double kBendSpan = kMaxBend + 1;
constexpr int64_t kDefaultRangeCents = rpn::kDefaultBendRange * 100;

int PedalOf(const MidiEvent& e) {
  return IsControl(e, cc::kSustain) ? 0 : IsControl(e, cc::kSostenuto) ? 1 : -1;
}

}  // namespace

void BendRangeRegisters::Apply(const MidiEvent& e) {
  const bool rangeSelected =
      !nrpnSelected && rpnMsb == rpn::kBendRangeMsb && rpnLsb == rpn::kBendRangeLsb;
  switch (e.kind) {
    case cc::kRpnMsb:
      rpnMsb = e.value;
      nrpnSelected = false;
      break;
    case cc::kRpnLsb:
      rpnLsb = e.value;
      nrpnSelected = false;
      break;
    case cc::kNrpnMsb:
    case cc::kNrpnLsb:
      nrpnSelected = true;
      break;
    case cc::kResetAll:
      rpnMsb = rpnLsb = rpn::kNull;
      nrpnSelected = false;
      break;
    case cc::kDataEntryMsb:
      if (rangeSelected) {
        semitones = e.value;
        cents = 0;
      }
      break;
    case cc::kDataEntryLsb:
      if (rangeSelected) {
        if (semitones < 0) semitones = rpn::kDefaultBendRange;  // the synthesizer's own
        cents = e.value;
      }
      break;
    default:
      break;
  }
}

void ChannelSetup::Apply(const MidiEvent& e) {
  if (e.status == st::kSysEx && e.kind == sysex::kRhythmPart) {
    rhythmMap = e.data.size() > kRhythmMapByte ? e.data[kRhythmMapByte] : e.value;
  }
  if (e.status == st::kPitchBend) bend = BendOf(e);
  if (e.status == st::kControl) {
    if (e.kind == cc::kResetAll) bend = kCentreBend;
    range.Apply(e);
  }
}

int BendOffset(double cents, double sensitivity) {
  int64_t rangeCents = std::llround(sensitivity * kCentsPerSemitone);
  if (rangeCents <= 0) rangeCents = kDefaultRangeCents;
  // Truncated toward zero. For whole cents this is the integer division exactly: the
  // quotient's distance from the next integer is far above the double's rounding.
  const double offset = std::trunc(-(kBendSteps * cents) / static_cast<double>(rangeCents));
  // Beyond a whole bend's span every offset clamps alike; held there, the cast stays defined.
  return static_cast<int>(std::clamp(offset, -kBendSpan, kBendSpan));
}

int BendValue(int base, double cents, double sensitivity) {
  return ClampBend(int64_t{base} - BendOffset(cents, sensitivity));
}

NoteRetuning ChannelSetup::RetuningOf(const MidiEvent& note, KeyTarget target) const {
  NoteRetuning r;
  r.rhythmPart = rhythmMap != 0;
  r.unmapped = !r.rhythmPart && !(target && std::isfinite(*target));
  r.sensitivity = range.Sensitivity();
  r.defaultRange = r.sensitivity <= 0;
  if (r.defaultRange) r.sensitivity = rpn::kDefaultBendRange;
  r.target = r.unmapped ? 0 : target.value_or(0);
  r.bendCents = r.target;
  // A target beyond the bend's reach moves the key, and the bend carries the rest.
  const double reach = std::max<double>(std::llround(r.sensitivity * kCentsPerSemitone), 0);
  if (!r.rhythmPart && std::fabs(r.target) > reach) {
    const double shift = std::round(r.target / kCentsPerSemitone);
    const double lowest = kLowestKey - note.note;
    const double highest = kHighestKey - note.note;
    r.keyShift = static_cast<int>(std::clamp(shift, lowest, highest));
    r.bendCents = r.target - kCentsPerSemitone * r.keyShift;
  }
  r.offset = BendOffset(r.bendCents, r.sensitivity);
  r.baseBend = bend;
  r.bend = ClampBend(int64_t{r.baseBend} - r.offset);
  return r;
}

bool SoundingWindow::Feed(const MidiEvent& e, int64_t time) {
  const int pedal = PedalOf(e);
  const bool reset = IsControl(e, cc::kResetAll);
  if (time <= noteEnd_) {
    if (pedal >= 0) held_[pedal] = e.value >= kPedalDown;
    if (reset) held_[0] = held_[1] = false;
    return true;
  }
  if (!held_[0] && !held_[1]) return false;
  if (reset || (pedal >= 0 && held_[pedal] && e.value < kPedalDown)) {
    end_ = time;
    if (reset) {
      held_[0] = held_[1] = false;
    } else {
      held_[pedal] = false;
    }
  }
  return held_[0] || held_[1];
}

int64_t SoundingWindow::End(int64_t songEnd) const {
  return held_[0] || held_[1] ? std::max(end_, songEnd) : end_;
}

}  // namespace velorna
