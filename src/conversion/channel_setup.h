// What a channel has set up for a note, as the synthesizer will hear it: the rhythm-part
// map, the pitch bend, the bend range registers, and the pedals that keep the note sounding.
// Fed with the channel's events in song order; shared by every way of building a copy.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "conversion/note_retune.h"
#include "midi/midi_types.h"

namespace velorna {

namespace cc {
inline constexpr uint32_t kDataEntryMsb = 6;
inline constexpr uint32_t kDataEntryLsb = 38;
inline constexpr uint32_t kSustain = 64;
inline constexpr uint32_t kSostenuto = 66;
inline constexpr uint32_t kNrpnLsb = 98;
inline constexpr uint32_t kNrpnMsb = 99;
inline constexpr uint32_t kRpnLsb = 100;
inline constexpr uint32_t kRpnMsb = 101;
inline constexpr uint32_t kResetAll = 121;
}  // namespace cc

inline bool IsControl(const MidiEvent& e, uint32_t controller) {
  return e.status == st::kControl && e.kind == controller;
}
inline int BendOf(const MidiEvent& e) {
  return e.value * 128 + e.note;
}
inline void SetBend(MidiEvent& e, int bend) {
  e.value = bend >> 7;
  e.note = bend & 127;
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

// The bend range registers as a synthesizer keeps them, from power-on (all null).
struct BendRangeRegisters {
  static constexpr int kNull = 127;
  int rpnMsb = kNull;
  int rpnLsb = kNull;
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

  void Apply(const MidiEvent& e);
  // How a note of this channel is retuned under this set-up.
  NoteRetuning RetuningOf(const MidiEvent& note, const CentTable& cents) const;
};

// Where a note stops sounding: its end, or, with a sustain or sostenuto pedal held there,
// the first release of that pedal (the song's end when it is never released).
class SoundingWindow {
 public:
  explicit SoundingWindow(int64_t noteEnd) : noteEnd_(noteEnd), end_(noteEnd) {}
  // The channel's events in song order; false once the end is known.
  bool Feed(const MidiEvent& e, int64_t time);
  int64_t End(int64_t songEnd) const;

 private:
  int64_t noteEnd_;
  int64_t end_;
  bool held_[2] = {false, false};  // sustain, sostenuto
};

}  // namespace velorna
