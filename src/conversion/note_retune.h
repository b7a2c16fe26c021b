// The tuning method: for one pitched note, a copy of the song holding what applies to
// that note, with a channel pitch bend that shifts it by its pitch class's offset.
//
// "What applies to the note": the events of its channel and the channel-less events before
// it in time, plus the non-note events at its own tick (the writer plays a tick's set-up
// events before its notes).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

inline constexpr int kCentreBend = 8192;
inline constexpr int kMaxBend = 16383;

// The copy for note i (status 16) at absolute time t: every other note and every other
// channel's events dropped; the note's set-up kept, and its sounding window (up to its end,
// or on to the release of a sustain or sostenuto pedal held there) kept with the window's
// bends shifted; a retuning bend at t. Null, after MDTK 0x0D000001, when i is not a note
// of the song's note-form track.
std::unique_ptr<MidiFormat0Data> BuildSingleNoteCopy(MidiContext& ctx, const MidiFormat0Data& song,
                                                     int32_t i, int64_t t, const CentTable& cents);
// How note i at time t is retuned: what the copy's bend is made of.
struct NoteRetuning {
  bool rhythmPart = false;     // a GS rhythm part: no bend at all
  double sensitivity = 2;      // range in semitones used for the offset
  bool defaultRange = false;   // the song sets none, so the copy sets 2
  int offset = 0;              // subtracted from the base
  int baseBend = kCentreBend;  // the channel's bend that applies to the note
  int bend = kCentreBend;      // base - offset, clamped
};
NoteRetuning DescribeRetuning(const MidiFormat0Data& song, int32_t i, int64_t t,
                              const CentTable& cents);

// Puts the retuning bend at t into a copy whose events are chosen: the song's bend range
// in front of it where the song sets none. Nothing for a rhythm part.
void AddRetuningBend(MidiContext& ctx, MidiTrack& copy, const NoteRetuning& retuning, int64_t t,
                     int channel);

// Pitch-bend range in semitones (cents as the fraction) that applies at `time`; 0 when the
// song sets none, or sets 0.
double FindBendSensitivity(const MidiFormat0Data& song, int channel, int64_t time);
// Sets the last bend of the channel at `time` to msb/lsb, or inserts one there when there is
// none or a reset-all-controllers of the channel follows it at that tick.
void SetPitchBendAt(MidiContext& ctx, MidiTrack& track, int msb, int lsb, int64_t time,
                    int channel);
// -(8191 * cents) / (100 * sensitivity), truncated toward zero; a range of 0 counts as 2.
int BendOffset(int cents, double sensitivity);
// The bend for a note of `cents` under range `sensitivity` from `base`, clamped to 0..16383.
int BendValue(int base, int cents, double sensitivity);

}  // namespace velorna
