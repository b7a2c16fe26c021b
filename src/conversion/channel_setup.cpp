#include "conversion/channel_setup.h"

#include <cmath>

#include "audio/pitch_realisation.h"
#include "midi/event_data.h"

namespace velorna {

namespace {

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
  if (const std::optional<int> map = RhythmMapOf(e)) rhythmMap = *map;
  if (e.status == st::kPitchBend) bend = BendOf(e);
  if (e.status == st::kControl) {
    if (e.kind == cc::kResetAll) bend = kCentreBend;
    range.Apply(e);
  }
}

NoteRetuning ChannelSetup::RetuningOf(const MidiEvent& note, KeyTarget target) const {
  NoteRetuning r;
  r.rhythmPart = rhythmMap != 0;
  r.unmapped = !r.rhythmPart && !(target && std::isfinite(*target));
  r.sensitivity = range.Sensitivity();
  r.defaultRange = r.sensitivity <= 0;
  if (r.defaultRange) r.sensitivity = rpn::kDefaultBendRange;
  r.target = r.unmapped ? 0 : target.value_or(0);
  r.baseBend = bend;
  r.bend = bend;
  if (r.rhythmPart) return r;
  // The synthesizer counts only the range's whole semitones.
  const int wheelSemitones = r.defaultRange ? rpn::kDefaultBendRange : range.semitones;
  // The song's bend as it sounds when the song is played in one pass: the target is added
  // to that, so notes retuned and notes left alone keep their intervals.
  r.baseCents = SoundedBendCents(bend, wheelSemitones);
  r.bendCents = r.baseCents;
  // Nothing to retune: the note stays exactly as the song plays it.
  if (r.target == 0) return r;
  // A pitch beyond the wheel's reach moves the key, and the bend carries the rest.
  const double wanted = r.target + r.baseCents;
  if (wanted < WheelCents(0, wheelSemitones) || wanted > WheelCents(kMaxBend, wheelSemitones)) {
    const double shift = std::round(wanted / kCentsPerSemitone);
    const double lowest = kLowestKey - note.note;
    const double highest = kHighestKey - note.note;
    r.keyShift = static_cast<int>(std::clamp(shift, lowest, highest));
  }
  const PitchRealisation p = RealisePitch(wanted - kCentsPerSemitone * r.keyShift, wheelSemitones);
  r.bend = p.bend;
  r.bendCents = p.bendCents;
  r.rateShiftCents = p.rateShiftCents;
  r.offset = r.baseBend - r.bend;
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
  return Held() ? std::max(end_, songEnd) : end_;
}

SoundingWindow SoundingWindow::Opened(int64_t noteEnd) const {
  SoundingWindow window(noteEnd);
  window.held_[0] = held_[0];
  window.held_[1] = held_[1];
  return window;
}

}  // namespace velorna
