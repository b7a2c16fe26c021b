// Adaptive just intonation: every note of a song gets a pitch of its own, chosen knowing all
// the notes it sounds with, so that chords are pure where they sound while the music as a
// whole stays at the reference pitch. The method is in docs/adaptive-intonation.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

// One note as the method sees it, without MIDI: times in seconds, the voice it belongs to
// (a channel), and the pitch it has when nothing around it asks for another.
struct IntonationNote {
  double start = 0;
  double end = 0;
  int key = 0;
  int velocity = 0;
  int voice = 0;
  double nominal = 0;           // cents from the key's equal-tempered pitch
  std::optional<double> fixed;  // a pitch the method must keep, in the same cents
};

// The just size of each interval class (semitones mod 12) as a list of ratios: the pair
// aims at whichever the music makes nearest. Seconds, sevenths and the tritone have two.
struct JustRatio {
  int numerator = 1;
  int denominator = 1;
};
inline constexpr size_t kMaxRatiosPerClass = 2;
struct IntervalClass {
  std::array<JustRatio, kMaxRatiosPerClass> ratios{};
  int ratioCount = 1;
  double consonance = 0;  // weight of a pair at this interval; 0 ignores it
};
using IntervalTable = std::array<IntervalClass, kPitchClassCount>;

// Cents by which the just size of a `semitones` interval, nearest to `sizeCents` (its size
// as played), differs from the equal-tempered one.
double JustDeviationCents(int semitones, double sizeCents);

// Fixed 5-limit just intonation: cents from equal temperament of the scale degree
// `degree` semitones above its tonic (1/1 16/15 9/8 6/5 5/4 4/3 45/32 3/2 8/5 5/3 9/5 15/8).
double JustScaleCents(int degree);

struct AdaptiveOptions {
  double anchorWindowSeconds = 4.0;  // windows whose mean pitch stays at the reference
  double anchorWeight = 2.0;
  double anchorToleranceCents = 5.0;  // ... within this
  double voiceWeight = 0.0002;        // steps of one voice close to their nominal size
  double voiceToleranceCents = 21.5;  // ... within this (a comma, as a just scale's steps are)
  double voiceGapSeconds = 0.5;       // a voice's next note within this is a step
  double nominalWeight = 1e-3;        // a lone note towards its nominal pitch, per second
  double minOverlapSeconds = 0.03;    // shorter overlaps are legato, not harmony
  int maxPartnersPerNote = 24;        // strongest partners kept when many notes overlap
  double robustCents = 0.1;           // pairs missing their ratio by more count less
  int passes = 20;                    // re-aiming and reweighting the pairs
  double lockCents = 0.5;             // pairs this close to pure at the end are made pure
};

// One pitch per note, in cents from its key's equal-tempered pitch. Deterministic: the same
// notes give the same bits.
std::vector<double> ChooseAdaptivePitches(const std::vector<IntonationNote>& notes,
                                          const AdaptiveOptions& options = {});

// The pitched notes of a prepared (note-form) song, with the note event each comes from.
// Channel 10 and GS rhythm parts are left out: drums are never retuned. Keys the table leaves
// unmapped are left out too; they stay silent.
struct SongNotes {
  std::vector<IntonationNote> notes;
  std::vector<int32_t> eventIndex;
};
SongNotes IntonationNotesOfSong(const MidiFormat0Data& song, const KeyTable& keys);

// Whether `keys` repeat every twelve keys at the octave, as the method's interval classes
// assume. Any other scale (19 to the octave, a non-octave period) it would pull back toward
// twelve-tone just intervals, so it is refused instead.
bool IsTwelveToneOctave(const KeyTable& keys);

// `keys` with a pitch chosen for every pitched note of the song.
Tuning AdaptiveTuning(const MidiFormat0Data& song, const KeyTable& keys,
                      const AdaptiveOptions& options = {});

}  // namespace velorna
