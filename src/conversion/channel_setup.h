// What a channel has set up for a note, as the synthesizer will hear it: the rhythm-part
// map, the pitch bend, the bend range registers, and the pedals that keep the note sounding;
// and how a note is retuned under that set-up. Fed with the channel's events in song order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "audio/soundfont_pitch.h"
#include "midi/midi_constants.h"
#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

inline bool IsControl(const MidiEvent& e, uint32_t controller) {
  return e.status == st::kControl && e.kind == controller;
}
inline int BendOf(const MidiEvent& e) {
  return (e.value << kDataBits) + e.note;
}
inline void SetBend(MidiEvent& e, int bend) {
  e.value = bend >> kDataBits;
  e.note = bend & kDataMask;
}
inline int ClampBend(int64_t bend) {
  return static_cast<int>(std::clamp<int64_t>(bend, 0, kMaxBend));
}
inline MidiEvent MakeBend(int channel, int bend) {
  MidiEvent e;
  e.status = st::kPitchBend;
  e.channel = channel;
  SetBend(e, bend);
  return e;
}
// A delta between two absolute times, held to what an event can carry.
inline int32_t DeltaBetween(int64_t from, int64_t to) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(to - from, 0, std::numeric_limits<int32_t>::max()));
}

// How a note is retuned: what its copy's key, bend and rendering rate are made of. The note
// sounds its target above what the song's own bend sounds as, measured from the pitch the
// synthesizer gives its key before truncating it to whole cents, as
// keyShiftCents + bendCents + rateShiftCents (see audio/pitch_realisation.h).
struct NoteRetuning {
  bool rhythmPart = false;     // a GS rhythm part: no bend at all
  bool unmapped = false;       // the tuning gives the key no pitch: the note is not rendered
  double sensitivity = 2;      // the bend range in semitones, its cents as the fraction
  bool defaultRange = false;   // the song sets none, so the copy sets 2
  double target = 0;           // cents from the key's equal-tempered pitch
  double baseCents = 0;        // what the song's own bend at the note sounds as
  int keyShift = 0;            // keys the copy moves the key by, for a target out of reach
  double keyShiftCents = 0;    // what that moves the exact pitch by
  double bendCents = 0;        // what the shifted key sounds with the copy's bend
  double rateShiftCents = 0;   // what the rendering's sample rate adds
  int offset = 0;              // subtracted from the base, and from the song's later bends
  int baseBend = kCentreBend;  // the channel's bend that applies to the note
  int bend = kCentreBend;      // base - offset
};

// The bend range registers as a synthesizer keeps them, from power-on (all null).
struct BendRangeRegisters {
  int rpnMsb = rpn::kNull;
  int rpnLsb = rpn::kNull;
  bool nrpnSelected = false;
  int semitones = -1;  // none set
  int cents = 0;

  void Apply(const MidiEvent& control);
  // Semitones with the cents as the fraction; 0 when none is set.
  double Sensitivity() const { return semitones < 0 ? 0 : semitones + cents / 100.0; }
};

// Rhythm map, bend and range of one channel, from its events up to a note's time.
struct ChannelSetup {
  int rhythmMap = 0;
  int bend = kCentreBend;
  BendRangeRegisters range;
  int bankSelect = 0;  // the bank number as the synthesizer reads it (its GS style: MSB only)
  int bank = 0;        // the bank and program the last program change chose
  int program = 0;

  void Apply(const MidiEvent& e);
  // How a note of this channel is retuned to `target` under this set-up; with the
  // SoundFont's pitches, measured from what its first layer gives the key.
  // With `plainBend`, the bend alone aims at the target (see PlainBend).
  NoteRetuning RetuningOf(const MidiEvent& note, KeyTarget target,
                          const SoundFontPitch* font = nullptr, bool plainBend = false) const;
};

// Where a note stops sounding: its end, or, with a sustain or sostenuto pedal held there,
// the first release of that pedal (the song's end when it is never released).
class SoundingWindow {
 public:
  explicit SoundingWindow(int64_t noteEnd) : noteEnd_(noteEnd), end_(noteEnd) {}
  // The channel's events in song order; false once the end is known.
  bool Feed(const MidiEvent& e, int64_t time);
  int64_t End(int64_t songEnd) const;
  // Built with an end past every event, a window only follows the pedals: Opened gives the
  // window of a note ending at noteEnd, once the events up to noteEnd have been fed.
  SoundingWindow Opened(int64_t noteEnd) const;
  bool Held() const { return held_[0] || held_[1]; }
  bool HoldsAs(const SoundingWindow& other) const {
    return held_[0] == other.held_[0] && held_[1] == other.held_[1];
  }

 private:
  int64_t noteEnd_;
  int64_t end_;
  bool held_[2] = {false, false};  // sustain, sostenuto
};

}  // namespace velorna
