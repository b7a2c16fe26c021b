// The tuning method: for one pitched note, a copy of the song holding what applies to
// that note, with a channel pitch bend (and, for a target out of its reach, a key shift)
// that moves it to the tuning's target.
//
// "What applies to the note": the events of its channel and the channel-less events before
// it in time, plus the non-note events at its own tick (the writer plays a tick's set-up
// events before its notes).
//
// Every engine builds its copies here, from a song indexed once: a copy then costs work in
// proportion to what it keeps rather than to the whole song.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "audio/render_timing.h"
#include "conversion/channel_setup.h"
#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

struct SongNoteIndex {
  const MidiFormat0Data* song = nullptr;  // must outlive the index, unchanged
  std::vector<int64_t> times;             // absolute tick of every event
  // Positions of the events a copy may keep (neither notes nor disabled), per channel and
  // for the channel-less events; the closing End of Track is in none of them.
  std::array<std::vector<int32_t>, kMidiChannels> channelEvents;
  std::vector<int32_t> sharedEvents;
  // Where time runs backward or a note has no channel of 0..15, a window is no prefix of
  // those lists: every copy then scans all events, which `scan` holds instead.
  bool fullScan = false;
  std::vector<int32_t> scan;
  bool endsWithEndOfTrack = false;
  // Note-ons (tick, position) and note-off ticks of every channel and key
  // (kKeyCount * channel + key), sorted: where the single pass releases a note.
  std::vector<std::vector<std::pair<int64_t, int32_t>>> keyOns;
  std::vector<std::vector<int64_t>> keyOffs;
  SongClock clock{0};  // the song's tempo map
  // Pitched notes cut where more of them would sound at once than the synthesizer's
  // polyphony: (event position, tick of the cut), by position.
  std::vector<std::pair<int32_t, int64_t>> stolen;
  // The pitches the SoundFont gives each key; none: every key its own whole cents.
  std::shared_ptr<const SoundFontPitch> pitch;
  // The synthesizer does not sound pitch as modelled: bends aim at the target directly.
  bool plainBend = false;
};

// Null when the song has no track in note form.
std::unique_ptr<SongNoteIndex> IndexSong(const MidiFormat0Data& song,
                                         std::shared_ptr<const SoundFontPitch> pitch = nullptr);

struct NoteCopy {
  std::unique_ptr<MidiFormat0Data> song;
  NoteRetuning retuning;  // its rateShiftCents: what the copy's rendering rate must add
  // An edit did not fit (it has said why): the note has no copy rather than a wrong pitch.
  bool failed = false;
};

// The copy for note i (status 16): every other note and every other channel's events
// dropped; the note's set-up kept, and its sounding window (up to its release, or on to the
// release of a sustain or sostenuto pedal held there) kept with the window's bends shifted,
// and after it the events that reach its release tail, which may ring as long as the single
// pass lets it (the ending cap past the window); a retuning bend at the note's time.
// The note is released where the single pass releases it (ReleaseTick). No song, after MDTK
// 0x0D000001, when i is not a note of the song's note-form track; none without a message
// when the tuning leaves it unmapped or it gives way at its own start (StolenTick).
NoteCopy BuildNoteCopy(MidiContext& ctx, const SongNoteIndex& index, int32_t i,
                       const Tuning& tuning);
// Where a synthesizer playing the song releases note i: at its note-off, at the next note-on
// of its channel and key (later in the song, even at its own tick), or at the first note-off
// of that key after it starts, whichever comes first; at its start when its track releases
// the key right behind it at that tick.
int64_t ReleaseTick(const SongNoteIndex& index, int32_t i);
// Where note i is cut because, as in the single pass, at most the synthesizer's polyphony of
// notes sound at once and the oldest beyond it gives way; none when it is not.
std::optional<int64_t> StolenTick(const SongNoteIndex& index, int32_t i);
// How note i is retuned: what its copy's key and bend are made of.
NoteRetuning DescribeRetuning(const SongNoteIndex& index, int32_t i, const Tuning& tuning);

// Puts the retuning bend at t into a copy whose events are chosen: the song's bend range
// in front of it where the song sets none. Nothing for a rhythm part. False when an edit
// did not fit (it has said why).
[[nodiscard]] bool AddRetuningBend(MidiContext& ctx, MidiTrack& copy, const NoteRetuning& retuning,
                                   int64_t t, int channel);

// Sets the last bend of the channel at `time` to msb/lsb, or inserts one there when there is
// none or a reset-all-controllers of the channel follows it at that tick. False when the
// insertion did not fit (it has said why).
[[nodiscard]] bool SetPitchBendAt(MidiContext& ctx, MidiTrack& track, int msb, int lsb,
                                  int64_t time, int channel);

}  // namespace velorna
