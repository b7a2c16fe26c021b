#include "conversion/channel_setup.h"

#include <cmath>

#include "audio/pitch_model_check.h"
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
  if (e.status == st::kProgram) {
    bank = bankSelect;
    program = e.value;
  }
  if (IsControl(e, cc::kBankSelect)) bankSelect = e.value;
  if (e.status == st::kControl) {
    if (e.kind == cc::kResetAll) bend = kCentreBend;
    range.Apply(e);
  }
}

NoteRetuning ChannelSetup::RetuningOf(const MidiEvent& note, KeyTarget target,
                                      const SoundFontPitch* font, bool plainBend) const {
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
  // The key's pitch as the first layer of the note's preset makes it (a key's own whole
  // cents without one), from a whole number of cents so that whole pitches stay exact.
  const auto layerAt = [&](int key) -> std::optional<LayerPitch> {
    if (!font) return std::nullopt;
    const std::vector<LayerPitch> layers = font->Layers(bank, program, key, note.velocity);
    if (layers.empty()) return std::nullopt;
    return layers.front();
  };
  const auto pitchAt = [&](int key) {
    const std::optional<LayerPitch> layer = layerAt(key);
    return layer ? PitchAtKey(*layer, key)
                 : VoicePitch{kCentsPerSemitone * key, kCentsPerSemitone * key};
  };
  const auto fromWhole = [](VoicePitch v, double whole) {
    return VoicePitch{v.computed - whole, v.exact - whole};
  };
  const VoicePitch own = pitchAt(note.note);
  const double ownWhole = std::floor(own.exact);
  // Nothing to retune: the note stays exactly as the song plays it, sounding its own pitch.
  if (r.target == 0 && SoundedCents(bend, wheelSemitones, fromWhole(own, ownWhole)) == r.baseCents)
    return r;
  // A pitch beyond the wheel's reach moves the key by the layer's cents per key, and the
  // bend carries the rest.
  const double wanted = r.target + r.baseCents;
  const std::optional<LayerPitch> layer = layerAt(note.note);
  const double perKey = layer ? layer->scaleTune : kCentsPerSemitone;
  if (perKey >= 1 &&
      (wanted < WheelCents(0, wheelSemitones) || wanted > WheelCents(kMaxBend, wheelSemitones))) {
    const double shift = std::round(wanted / perKey);
    const double lowest = kLowestKey - note.note;
    const double highest = kHighestKey - note.note;
    r.keyShift = static_cast<int>(std::clamp(shift, lowest, highest));
  }
  const VoicePitch shifted = pitchAt(note.note + r.keyShift);
  const double shiftedWhole = std::floor(shifted.exact);
  r.keyShiftCents =
      (shiftedWhole - ownWhole) + (shifted.exact - shiftedWhole) - (own.exact - ownWhole);
  const double rest = wanted - r.keyShiftCents;
  const PitchRealisation p =
      plainBend ? PlainBend(rest, wheelSemitones)
                : RealisePitch(rest, wheelSemitones, fromWhole(shifted, shiftedWhole));
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
