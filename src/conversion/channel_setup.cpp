#include "conversion/channel_setup.h"

namespace velorna {

namespace {

constexpr int kPedalDown = 64;
constexpr size_t kRhythmMapByte = 9;

int PedalOf(const MidiEvent& e) {
  return IsControl(e, cc::kSustain) ? 0 : IsControl(e, cc::kSostenuto) ? 1 : -1;
}

}  // namespace

void BendRangeRegisters::Apply(const MidiEvent& e) {
  const bool rangeSelected = !nrpnSelected && rpnMsb == 0 && rpnLsb == 0;
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
      rpnMsb = rpnLsb = kNull;
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
        if (semitones < 0) semitones = 2;  // the synthesizer's own range
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

NoteRetuning ChannelSetup::RetuningOf(const MidiEvent& note, const CentTable& cents) const {
  NoteRetuning r;
  r.rhythmPart = rhythmMap != 0;
  r.sensitivity = range.Sensitivity();
  r.defaultRange = r.sensitivity <= 0;
  if (r.defaultRange) r.sensitivity = 2;
  r.offset = BendOffset(cents[static_cast<size_t>(((note.note % 12) + 12) % 12)], r.sensitivity);
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
