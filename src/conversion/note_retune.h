// The song index every plan is made from (see note_plan.h): the absolute time of every
// event, per channel the events a plan may keep, where the single pass releases each note
// and which notes give way to the polyphony; and how a note is retuned.
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

}  // namespace velorna
